#include "WebServerMIMEStreamParser.h"

#include "WebServerFunctions.h"
#include "foundation/CaseInsensitive.h"
#include "foundation/TemporaryFile.h"
#include "foundation/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <new>
#include <string_view>
#include <unistd.h>

namespace {

constexpr std::string_view kCRLF = "\r\n";
constexpr std::string_view kHeadersEnd = "\r\n\r\n";
constexpr std::string_view kClosingEnd = "--\r\n";
constexpr std::size_t kInitialCapacity = 256 * 1024;

// Position of `needle` in data[from, size), or std::string::npos.
std::size_t find(const Data& data, std::size_t from, std::string_view needle) {
    if (from >= data.size() || data.size() - from < needle.size()) {
        return std::string::npos;
    }
    const void* hit = ::memmem(data.data() + from, data.size() - from, needle.data(), needle.size());
    return hit ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data.data())
               : std::string::npos;
}

// Whether data[position, size) is `expected` (complete: true, partial: prefix is set).
bool matchesAt(const Data& data, std::size_t position, std::string_view expected, bool& prefix) {
    const std::size_t available = std::min(data.size() - position, expected.size());
    prefix = std::memcmp(data.data() + position, expected.data(), available) == 0;
    return prefix && available == expected.size();
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A quoted value of a Content-Disposition parameter, from just after its opening quote. It is read
// as a quoted-string in which a backslash escapes a quote or a backslash (as curl's --form-escape
// writes them); a backslash before anything else stays, for browsers send backslashes in names as
// they are. A value whose escaped reading does not close is read up to the next quote as it stands,
// so a browser's name that ends in a backslash keeps it.
std::string quotedParameterValue(std::string_view rest) {
    std::string value;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '"') {
            return value;
        }
        if (rest[i] == '\\' && i + 1 < rest.size() && (rest[i + 1] == '"' || rest[i + 1] == '\\')) {
            ++i;
        }
        value.push_back(rest[i]);
    }
    return std::string(rest.substr(0, rest.find('"')));
}

// A file name as a browser's form encoding wrote it: a quote, a carriage return and a line feed
// are sent as "%22", "%0D" and "%0A" (every other byte as it is, a "%" too), and read back here.
std::string formEncodedFileName(const std::string& sent) {
    static constexpr struct {
        std::string_view escape;
        char byte;
    } kEscapes[] = {{"%22", '"'}, {"%0D", '\r'}, {"%0A", '\n'}};
    std::string name;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const auto escape = std::find_if(std::begin(kEscapes), std::end(kEscapes), [&](const auto& entry) {
            return std::string_view(sent).substr(i, entry.escape.size()) == entry.escape;
        });
        if (escape == std::end(kEscapes)) {
            name.push_back(sent[i]);
        } else {
            name.push_back(escape->byte);
            i += escape->escape.size() - 1;
        }
    }
    return name;
}

// A parameter of a Content-Disposition value, found as ExtractHeaderValueParameter finds it (the
// first occurrence of "NAME=", in any case, not at the start). A quoted value is a quoted-string
// (above). Unlike ExtractHeaderValueParameter, a parameter present with an empty value
// (filename="", sent for a file field without a file) is "" and not none.
std::optional<std::string> dispositionParameter(const std::string& disposition, const std::string& name) {
    const std::size_t at = platform::asciiLowercase(disposition).find(platform::asciiLowercase(name) + "=");
    if (at == std::string::npos || at == 0) {
        return std::nullopt;
    }
    const std::size_t start = at + name.size() + 1;
    if (start < disposition.size() && disposition[start] == '"') {
        return quotedParameterValue(std::string_view(disposition).substr(start + 1));
    }
    return ExtractHeaderValueParameter(disposition, name).value_or(std::string());
}

} // namespace

std::unique_ptr<WebServerMIMEStreamParser> WebServerMIMEStreamParser::create(
    const std::string& boundary, const std::optional<std::string>& defaultControlName,
    WebServerMultiPartArgumentList& arguments, WebServerMultiPartFileList& files) {
    return make(boundary, defaultControlName, false, arguments, files);
}

std::unique_ptr<WebServerMIMEStreamParser> WebServerMIMEStreamParser::make(
    const std::string& boundary, const std::optional<std::string>& defaultControlName, bool nested,
    WebServerMultiPartArgumentList& arguments, WebServerMultiPartFileList& files) {
    if (boundary.empty() || std::any_of(boundary.begin(), boundary.end(),
                                        [](char c) { return static_cast<unsigned char>(c) > 0x7F; })) {
        return nullptr;
    }
    try {
        return std::unique_ptr<WebServerMIMEStreamParser>(
            new WebServerMIMEStreamParser(boundary, defaultControlName, nested, arguments, files));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

WebServerMIMEStreamParser::WebServerMIMEStreamParser(const std::string& boundary,
                                                     const std::optional<std::string>& defaultControlName,
                                                     bool nested, WebServerMultiPartArgumentList& arguments,
                                                     WebServerMultiPartFileList& files)
    : _delimiter("\r\n--" + boundary), _defaultcontrolName(defaultControlName), _nested(nested),
      _arguments(arguments), _files(files) {
    _data.reserve(kInitialCapacity);
    // The first boundary may open the body: a line break in front lets one search find it there too.
    _data.insert(_data.end(), kCRLF.begin(), kCRLF.end());
}

WebServerMIMEStreamParser::~WebServerMIMEStreamParser() {
    _discardTemporaryFile();
}

bool WebServerMIMEStreamParser::_charge(std::size_t bytes) {
    if (bytes > kMaximumInMemory - std::min(*_memoryInUse, kMaximumInMemory)) {
        _exceededMemory = true;
        return false;
    }
    *_memoryInUse += bytes;
    return true;
}

bool WebServerMIMEStreamParser::appendBytes(const void* bytes, std::size_t length) {
    if (_state == State::End) {
        return true; // the epilogue
    }
    if (_state == State::Failed) {
        return false;
    }
    try {
        _compact();
        platform::appendBytes(_data, bytes, length);
        return _parseData();
    } catch (const std::bad_alloc&) {
        _failedAllocating = true;
        _fail();
        return false;
    }
}

void WebServerMIMEStreamParser::_compact() {
    if (_offset > 0) {
        _data.erase(_data.begin(), _data.begin() + static_cast<std::ptrdiff_t>(_offset));
        _searchFrom = _searchFrom > _offset ? _searchFrom - _offset : 0;
        _offset = 0;
    }
}

bool WebServerMIMEStreamParser::_parseData() {
    for (;;) {
        Step step = Step::Wait;
        switch (_state) {
        case State::Start:
        case State::Content:
            step = _parseContent();
            break;
        case State::Headers:
            step = _parseHeaders();
            break;
        case State::End:
            _data.clear();
            _offset = _searchFrom = 0;
            return true;
        case State::Failed:
            return false;
        }
        if (step == Step::Wait) {
            return true;
        }
        if (step == Step::Fail) {
            _fail();
            return false;
        }
    }
}

// ---- Part headers ----

// _data[_offset] holds the line break that ended the boundary line; the headers follow it and end
// with an empty line.
WebServerMIMEStreamParser::Step WebServerMIMEStreamParser::_parseHeaders() {
    const std::size_t end = find(_data, std::max(_searchFrom, _offset), kHeadersEnd);
    if (end == std::string::npos) {
        if (_data.size() - _offset > kMaximumHeadersSize) {
            return Step::Fail;
        }
        _searchFrom = std::max(_offset, _data.size() - std::min(_data.size(), kHeadersEnd.size() - 1));
        return Step::Wait;
    }
    if (end - _offset > kMaximumHeadersSize) {
        return Step::Fail;
    }
    _readHeaderLines(std::min(_offset + kCRLF.size(), end), end);
    _offset = _searchFrom = end + kHeadersEnd.size();
    return _beginPart();
}

void WebServerMIMEStreamParser::_readHeaderLines(std::size_t begin, std::size_t end) {
    _controlName.reset();
    _fileName.reset();
    _contentType.reset();
    _tmpPath.clear();
    _tmpName.clear();
    _subParser.reset();
    // The lines are read as bytes: a file name that is not UTF-8 is the upload handler's to refuse
    // (the file system would not take it whole), while a control name must be text.
    const std::string text(reinterpret_cast<const char*>(_data.data()) + begin, end - begin);
    // A line that begins with a blank continues the one before (a folded header): it is joined to
    // it with its line break, so a value folded inside a quoted file name keeps the break (and the
    // name is refused) instead of being cut at the fold.
    std::vector<std::string> lines;
    std::size_t position = 0;
    while (position <= text.size()) {
        std::size_t lineEnd = text.find(kCRLF, position);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        std::string line = text.substr(position, lineEnd - position);
        if (!lines.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            lines.back() += std::string(kCRLF) + line;
        } else {
            lines.push_back(std::move(line));
        }
        position = lineEnd + kCRLF.size();
    }
    for (const std::string& line : lines) {
        const std::size_t colon = line.find(':');
        if (colon != std::string::npos) {
            _readHeader(line.substr(0, colon), trimmed(line.substr(colon + 1)));
        }
    }
}

void WebServerMIMEStreamParser::_readHeader(const std::string& name, const std::string& value) {
    if (platform::equalsIgnoringCase(name, "Content-Type")) {
        _contentType = NormalizeHeaderValue(value);
    } else if (platform::equalsIgnoringCase(name, "Content-Disposition")) {
        const std::string disposition = NormalizeHeaderValue(value);
        const std::string type = TruncateHeaderValue(disposition);
        if (type == "form-data") {
            _controlName = ExtractHeaderValueParameter(disposition, "name");
            if (_controlName && !platform::isValidUTF8(*_controlName)) {
                _controlName.reset();
            }
        } else if (type == "file") {
            _controlName = _defaultcontrolName;
        } else {
            return;
        }
        _fileName = dispositionParameter(disposition, "filename");
        if (_fileName) {
            _fileName = formEncodedFileName(*_fileName);
        }
    }
}

WebServerMIMEStreamParser::Step WebServerMIMEStreamParser::_beginPart() {
    if (!_contentType) {
        _contentType = "text/plain";
    }
    if (!_controlName || !_charge(kPartOverhead)) {
        return Step::Fail;
    }
    if (TruncateHeaderValue(*_contentType) == "multipart/mixed") {
        if (_nested) {
            return Step::Fail; // one level of nesting only
        }
        auto boundary = ExtractHeaderValueParameter(*_contentType, "boundary");
        _subParser = make(boundary ? TruncateHeaderValue(*boundary) : std::string(), _controlName, true,
                          _arguments, _files);
        if (!_subParser) {
            return Step::Fail;
        }
        _subParser->_memoryInUse = _memoryInUse;
        _subParser->_fileCount = _fileCount;
        _subParser->setTemporaryFolder(_temporaryFolder, _stagingFolder);
    } else if (_fileName) {
        if (++*_fileCount > kMaximumFiles) {
            _exceededFiles = true;
            return Step::Fail;
        }
        if (_stagingFolder) {
            _tmpFile = platform::createTemporaryFileAt(_stagingFolder->get(), _tmpName);
            _tmpPath = _tmpFile == -1 ? std::string() : _temporaryFolder + "/" + _tmpName;
        } else {
            _tmpFile = platform::createTemporaryFile(_tmpPath, _temporaryFolder);
        }
        if (_tmpFile == -1) {
            _storageFailed();
            _tmpPath.clear();
            _tmpName.clear();
            return Step::Fail;
        }
        // Appended to, so that a file cut meanwhile ends short of the part (WebServerStoredFile).
        _tmpWritten = 0;
        if (::fcntl(_tmpFile, F_SETFL, O_APPEND) != 0) {
            _storageFailed();
            _discardTemporaryFile();
            return Step::Fail;
        }
    }
    _state = State::Content;
    return Step::Continue;
}

// ---- Preamble and part content ----

WebServerMIMEStreamParser::Step WebServerMIMEStreamParser::_parseContent() {
    std::size_t from = std::max(_searchFrom, _offset);
    for (;;) {
        const std::size_t position = find(_data, from, _delimiter);
        if (position == std::string::npos) {
            // A delimiter can still begin only in the last (length - 1) bytes.
            const std::size_t tail = _delimiter.size() - 1;
            _searchFrom = std::max(from, _data.size() > tail ? _data.size() - tail : 0);
            return _consumeContent(_searchFrom);
        }
        const std::size_t after = position + _delimiter.size();
        switch (_classifyDelimiterEnd(after)) {
        case DelimiterEnd::Incomplete:
            _searchFrom = position;
            return _consumeContent(position);
        case DelimiterEnd::NotDelimiter:
            from = position + 1; // the boundary text is part of the content
            continue;
        case DelimiterEnd::NextPart:
            if (!_finishPart(position)) {
                return Step::Fail;
            }
            _offset = _searchFrom = after; // the headers' search begins at the line break
            _state = State::Headers;
            return Step::Continue;
        case DelimiterEnd::LastPart:
            if (!_finishPart(position)) {
                return Step::Fail;
            }
            _state = State::End;
            return Step::Continue;
        }
    }
}

WebServerMIMEStreamParser::DelimiterEnd
WebServerMIMEStreamParser::_classifyDelimiterEnd(std::size_t position) const {
    bool crlfPrefix = false;
    bool closingPrefix = false;
    if (matchesAt(_data, position, kCRLF, crlfPrefix)) {
        return DelimiterEnd::NextPart;
    }
    if (matchesAt(_data, position, kClosingEnd, closingPrefix)) {
        return DelimiterEnd::LastPart;
    }
    return crlfPrefix || closingPrefix ? DelimiterEnd::Incomplete : DelimiterEnd::NotDelimiter;
}

// data[_offset, end) is known to be content of the current part (or preamble): hand it on where it
// streams, keep it where the part is held in memory.
WebServerMIMEStreamParser::Step WebServerMIMEStreamParser::_consumeContent(std::size_t end) {
    if (end <= _offset) {
        return Step::Wait;
    }
    if (_state == State::Start) {
        _offset = end; // the preamble is discarded
    } else if (_subParser) {
        if (!_subParser->appendBytes(_data.data() + _offset, end - _offset)) {
            _takeFailure(*_subParser);
            return Step::Fail;
        }
        _offset = end;
    } else if (_tmpFile != -1) {
        if (!_writeToFile(_offset, end)) {
            return Step::Fail;
        }
        _offset = end;
    } else if (end - _offset > kMaximumArgumentSize) {
        return Step::Fail;
    }
    return Step::Wait;
}

// The current part's content is data[_offset, end); the delimiter begins at end.
bool WebServerMIMEStreamParser::_finishPart(std::size_t end) {
    if (_state == State::Start) {
        return true; // the preamble ends at the first boundary
    }
    if (_subParser) {
        auto subParser = std::move(_subParser);
        bool success = subParser->appendBytes(_data.data() + _offset, end - _offset) &&
                       subParser->appendBytes(kCRLF.data(), kCRLF.size()) && subParser->isAtEnd();
        _takeFailure(*subParser);
        return success;
    }
    if (_tmpFile != -1) {
        return _finishFilePart(end);
    }
    if (end - _offset > kMaximumArgumentSize || !_charge(end - _offset)) {
        return false;
    }
    Data content(_data.begin() + static_cast<std::ptrdiff_t>(_offset),
                 _data.begin() + static_cast<std::ptrdiff_t>(end));
    _arguments.push_back(
        std::make_shared<WebServerMultiPartArgument>(*_controlName, *_contentType, std::move(content)));
    return true;
}

bool WebServerMIMEStreamParser::_finishFilePart(std::size_t end) {
    if (!_writeToFile(_offset, end)) {
        _discardTemporaryFile();
        return false;
    }
    const int file = _tmpFile;
    _tmpFile = -1;
    const WebServerStoredFile stored = WebServerStoredFile::of(file, _tmpWritten);
    if (::close(file) != 0) {
        _storageFailed();
        _discardTemporaryFile();
        return false;
    }
    // From here on the file object owns the file (and deletes it if the list cannot take it).
    auto part = std::make_shared<WebServerMultiPartFile>(*_controlName, *_contentType, *_fileName, _tmpPath,
                                                         _stagingFolder, std::move(_tmpName), stored);
    _tmpPath.clear();
    _tmpName.clear();
    _files.push_back(std::move(part));
    return true;
}

bool WebServerMIMEStreamParser::_writeToFile(std::size_t begin, std::size_t end) {
    while (begin < end) {
        const ssize_t written = ::write(_tmpFile, _data.data() + begin, end - begin);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return _storageFailed(written == 0 ? ENOSPC : 0);
        }
        begin += static_cast<std::size_t>(written);
        _tmpWritten += static_cast<std::uint64_t>(written);
    }
    return true;
}

bool WebServerMIMEStreamParser::_storageFailed(int errorNumber) {
    _storageError = errorNumber != 0 ? errorNumber : errno;
    return false;
}

void WebServerMIMEStreamParser::_takeFailure(const WebServerMIMEStreamParser& subParser) {
    _failedAllocating = subParser._failedAllocating;
    _exceededMemory = subParser._exceededMemory;
    _exceededFiles = subParser._exceededFiles;
    _storageError = subParser._storageError;
}

void WebServerMIMEStreamParser::_discardTemporaryFile() {
    if (_tmpFile != -1) {
        ::close(_tmpFile);
        _tmpFile = -1;
    }
    if (_stagingFolder && !_tmpName.empty()) {
        ::unlinkat(_stagingFolder->get(), _tmpName.c_str(), 0);
    } else if (!_tmpPath.empty()) {
        ::unlink(_tmpPath.c_str());
    }
    _tmpName.clear();
    _tmpPath.clear();
}

void WebServerMIMEStreamParser::_fail() {
    _state = State::Failed;
    _discardTemporaryFile();
    _subParser.reset();
    _data = Data();
    _offset = _searchFrom = 0;
}
