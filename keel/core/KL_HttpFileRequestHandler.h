// KL_HttpFileRequestHandler: serves the files under a folder: request paths below the url root
// name files below the file root. Directories are refused, listed (auto dir) or answered with
// their index file; byte ranges are honoured; content types come from the file's extension.
// Paths with a ".." segment or a NUL byte are refused, so nothing outside the file root is served.
#pragma once

#include "KL_HttpRequestHandler.h"
#include "KL_InputStream.h"
#include "KL_Map.h"
#include "KL_String.h"

class KL_HttpFileRequestHandler : public KL_HttpRequestHandler {
public:
    KL_HttpFileRequestHandler(const char* url_root, const char* file_root, bool auto_dir = false,
                              const char* auto_index = nullptr);

    [[nodiscard]] KL_Result SetupResponse(KL_HttpRequest& request, const KL_HttpRequestContext& context,
                                          KL_HttpResponse& response) override;

    // Makes stream the response's body: whole, or the part a "Range" value (null: none) names,
    // with status and headers to match. Bad or unsatisfiable ranges set 400 or 416 and give 0;
    // a range bound that is not a number gives its parse failure.
    // clamp_to_size (as RFC 9110 reads ranges): a range that ends past the stream's end ends at
    // its last byte (so a suffix longer than the stream takes all of it), and every 416 for a
    // stream of known size carries "Content-Range: bytes */SIZE".
    [[nodiscard]] static KL_Result SetupResponseBody(KL_HttpResponse& response,
                                                     const KL_InputStreamReference& stream,
                                                     const char* range = nullptr, bool clamp_to_size = false);

    // The type for a file name by its extension: the file type map, then (when enabled) the
    // default table, else the default mime type.
    KL_String GetContentType(const KL_String& file_name) const;
    // The default table's type for an extension (any case of letters), or null.
    static const char* GetDefaultContentType(const char* extension);

    // Escapes a text for markup: each UTF-8 code point outside 0x20..0x7E or in set becomes
    // "&#xHHHH;" (8 digits above 0xFFFF); a malformed sequence becomes "&#xFFFFFFFF;".
    static KL_String EscapeMarkup(const char* text, const char* set);

    KL_Map<KL_String, KL_String>& GetFileTypeMap() { return m_FileTypeMap; }
    void SetDefaultMimeType(const char* type) { m_DefaultMimeType = type; }
    void SetUseDefaultFileTypeMap(bool use) { m_UseDefaultFileTypeMap = use; }
    void SetAutoDir(bool auto_dir) { m_AutoDir = auto_dir; }
    void SetAutoIndex(const char* auto_index) { m_AutoIndex = auto_index; }

private:
    KL_Result SetupIndex(const KL_String& request_path, KL_String& file_name, KL_HttpResponse& response);
    KL_Result SetupListing(const KL_String& request_path, const KL_String& relative,
                           const KL_String& dir_name, KL_HttpResponse& response);

    KL_String m_UrlRoot;
    KL_String m_FileRoot;
    KL_Map<KL_String, KL_String> m_FileTypeMap;
    KL_String m_DefaultMimeType;
    bool m_UseDefaultFileTypeMap = true;
    bool m_AutoDir;
    KL_String m_AutoIndex;
};
