#pragma once

#include "WebServerStoredFile.h"
#include "WebServerTypes.h"

#include "foundation/SharedFolder.h"

#include <memory>
#include <optional>
#include <string>

// One part of a "multipart/form-data" body: its control name (the form field) and content type.
class WebServerMultiPart {
public:
    WebServerMultiPart(const std::string& controlName, const std::string& contentType);
    virtual ~WebServerMultiPart() = default;

    const std::string& controlName() const { return _controlName; }
    const std::string& contentType() const { return _contentType; }
    // The content type up to its first ";".
    const std::string& mimeType() const { return _mimeType; }

    virtual std::string description() const = 0;

protected:
    std::string _controlName;
    std::string _contentType;
    std::string _mimeType;
};

// A part kept in memory: a form field's value.
class WebServerMultiPartArgument : public WebServerMultiPart {
public:
    WebServerMultiPartArgument(const std::string& controlName, const std::string& contentType, Data data);

    const Data& data() const { return _data; }
    // For a "text/..." part, its bytes decoded with the part's charset (UTF-8 by default); none
    // otherwise or when they do not decode.
    const std::optional<std::string>& string() const { return _string; }

    // "<WebServerMultiPartArgument | 'text/plain' | 5 bytes>".
    std::string description() const override;

protected:
    Data _data;
    std::optional<std::string> _string;
};

// An open folder where file parts are staged, shared by the parts made in it.
using WebServerStagingFolder = std::shared_ptr<const platform::FileDescriptor>;

// A part written to a temporary file: an uploaded file. The object owns the file and deletes it
// when it goes, unless a handler moved it away first.
class WebServerMultiPartFile : public WebServerMultiPart {
public:
    // `folder`: the open folder that holds the file under `temporaryName` (the file is then
    // deleted through it); none for a file named by its path alone.
    WebServerMultiPartFile(const std::string& controlName, const std::string& contentType,
                           const std::string& fileName, const std::string& temporaryPath,
                           WebServerStagingFolder folder = nullptr, std::string temporaryName = "",
                           WebServerStoredFile stored = {});
    ~WebServerMultiPartFile() override;
    WebServerMultiPartFile(const WebServerMultiPartFile&) = delete;
    WebServerMultiPartFile& operator=(const WebServerMultiPartFile&) = delete;

    // The client's name of the file; empty when the field was sent without a file.
    const std::string& fileName() const { return _fileName; }
    const std::string& temporaryPath() const { return _temporaryPath; }
    // The open folder that holds the file (-1 when there is none) and the file's name there.
    int temporaryFolderDescriptor() const { return _folder ? _folder->get() : -1; }
    const std::string& temporaryName() const { return _temporaryName; }
    // The file as the parser wrote it.
    const WebServerStoredFile& storedFile() const { return _stored; }

    // "<WebServerMultiPartFile | 'image/png' | 'photo.png>'".
    std::string description() const override;

protected:
    std::string _fileName;
    std::string _temporaryPath;
    WebServerStagingFolder _folder;
    std::string _temporaryName;
    WebServerStoredFile _stored;
};
