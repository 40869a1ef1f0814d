#pragma once

#include "WebServerMultiPart.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using WebServerMultiPartArgumentList = std::vector<std::shared_ptr<WebServerMultiPartArgument>>;
using WebServerMultiPartFileList = std::vector<std::shared_ptr<WebServerMultiPartFile>>;

// Splits a MIME multipart body, while it streams in, into text parts kept in memory and file parts
// written to temporary files; a "multipart/mixed" part (one level deep) is split by a sub-parser
// into file parts named after its control name.
//
// A part ends at CRLF "--" boundary followed by CRLF (another part follows) or by "--" CRLF (the
// closing boundary). File contents go to disk as they arrive: between two appends only the last
// (delimiter length - 1) bytes of a file part stay in memory. Each search resumes where the last
// one stopped. Headers and text parts are capped; exceeding a cap fails the append.
class WebServerMIMEStreamParser {
public:
    static constexpr std::size_t kMaximumHeadersSize = 1024 * 1024;
    static constexpr std::size_t kMaximumArgumentSize = 1024 * 1024;
    // What all the parts of one body may hold in memory together (text parts whole, every part its
    // object), nested parts included.
    static constexpr std::size_t kMaximumInMemory = 16 * 1024 * 1024;
    static constexpr std::size_t kPartOverhead = 1024;
    // The file parts one body may hold, nested parts included: what a form stages and its handler
    // then places is bounded.
    static constexpr std::size_t kMaximumFiles = 10000;

    // None when the boundary is empty or not ASCII. Parts are appended to the two lists, which
    // must outlive the parser.
    static std::unique_ptr<WebServerMIMEStreamParser>
    create(const std::string& boundary, const std::optional<std::string>& defaultControlName,
           WebServerMultiPartArgumentList& arguments, WebServerMultiPartFileList& files);
    ~WebServerMIMEStreamParser();
    WebServerMIMEStreamParser(const WebServerMIMEStreamParser&) = delete;
    WebServerMIMEStreamParser& operator=(const WebServerMIMEStreamParser&) = delete;

    // Feeds the next bytes of the body; false once the body is malformed, a part cannot be stored
    // or a cap is exceeded (every later append fails too). Bytes after the closing boundary are
    // ignored.
    bool appendBytes(const void* bytes, std::size_t length);
    // The closing boundary was seen.
    bool isAtEnd() const { return _state == State::End; }
    // The failure was a failed memory allocation.
    bool hasFailedAllocating() const { return _failedAllocating; }
    // Where file parts are written (the system's temporary folder when empty); with an open folder,
    // through its descriptor (`folder` then names it for the parts' paths).
    void setTemporaryFolder(std::string folder, WebServerStagingFolder open = nullptr) {
        _temporaryFolder = std::move(folder);
        _stagingFolder = std::move(open);
    }
    // The parts kept in memory would exceed kMaximumInMemory together.
    bool hasExceededMemory() const { return _exceededMemory; }
    // The body holds more than kMaximumFiles file parts.
    bool hasExceededFiles() const { return _exceededFiles; }
    // The error number of the system call that failed to store a file part (a full disk, no
    // descriptor left...); 0 when the failure was another.
    int storageError() const { return _storageError; }

private:
    enum class State { Start, Headers, Content, End, Failed };
    enum class Step { Continue, Wait, Fail };
    enum class DelimiterEnd { NextPart, LastPart, Incomplete, NotDelimiter };

    WebServerMIMEStreamParser(const std::string& boundary,
                              const std::optional<std::string>& defaultControlName, bool nested,
                              WebServerMultiPartArgumentList& arguments, WebServerMultiPartFileList& files);
    static std::unique_ptr<WebServerMIMEStreamParser>
    make(const std::string& boundary, const std::optional<std::string>& defaultControlName, bool nested,
         WebServerMultiPartArgumentList& arguments, WebServerMultiPartFileList& files);

    bool _parseData();
    Step _parseHeaders();
    Step _parseContent();
    void _readHeaderLines(std::size_t begin, std::size_t end);
    void _readHeader(const std::string& name, const std::string& value);
    Step _beginPart();
    DelimiterEnd _classifyDelimiterEnd(std::size_t position) const;
    Step _consumeContent(std::size_t end);
    bool _finishPart(std::size_t end);
    bool _finishFilePart(std::size_t end);
    bool _writeToFile(std::size_t begin, std::size_t end);
    void _discardTemporaryFile();
    // Notes what failed the part's storage (errno, or `errorNumber` when given); false, to return.
    bool _storageFailed(int errorNumber = 0);
    void _takeFailure(const WebServerMIMEStreamParser& subParser);
    void _compact();
    void _fail();

    std::string _delimiter; // CRLF "--" boundary
    std::optional<std::string> _defaultcontrolName;
    bool _nested;
    State _state = State::Start;
    Data _data;
    std::size_t _offset = 0;     // bytes of _data already consumed
    std::size_t _searchFrom = 0; // no match of the current search starts before this position
    WebServerMultiPartArgumentList& _arguments;
    WebServerMultiPartFileList& _files;
    std::optional<std::string> _controlName;
    std::optional<std::string> _fileName;
    std::optional<std::string> _contentType;
    std::string _tmpPath;
    std::string _tmpName; // in _stagingFolder
    int _tmpFile = -1;
    std::uint64_t _tmpWritten = 0; // bytes of the part in _tmpFile
    std::unique_ptr<WebServerMIMEStreamParser> _subParser;
    bool _failedAllocating = false;
    bool _exceededMemory = false;
    bool _exceededFiles = false;
    int _storageError = 0;
    std::string _temporaryFolder;
    WebServerStagingFolder _stagingFolder;
    std::size_t _ownMemoryInUse = 0;
    std::size_t* _memoryInUse = &_ownMemoryInUse; // shared with nested parsers
    std::size_t _ownFileCount = 0;
    std::size_t* _fileCount = &_ownFileCount; // shared with nested parsers
    bool _charge(std::size_t bytes);
};
