// KL_HttpFileRequestHandler: directory listings, markup escaping and the default type table.
#include "KL_Check.h"
#include "KL_File.h"
#include "KL_HttpEntity.h"
#include "KL_HttpFileRequestHandler.h"
#include "KL_HttpResponse.h"
#include "KL_Uri.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("keel.http.server.file");

namespace {

struct FileType {
    const char* m_Extension;
    const char* m_Type;
};

// Searched in order; png is listed twice. FLAC and Ogg carry types of their own: players that
// believe audio/mpeg force their MP3 reader on them and play nothing.
const FileType kDefaultFileTypes[] = {
    {"xml", "text/xml; charset=\"utf-8\""},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"c", "text/plain"},
    {"h", "text/plain"},
    {"txt", "text/plain"},
    {"css", "text/css"},
    {"manifest", "text/cache-manifest"},
    {"gif", "image/gif"},
    {"thm", "image/jpeg"},
    {"png", "image/png"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"jpe", "image/jpeg"},
    {"jp2", "image/jp2"},
    {"png", "image/png"},
    {"bmp", "image/bmp"},
    {"aif", "audio/x-aiff"},
    {"aifc", "audio/x-aiff"},
    {"aiff", "audio/x-aiff"},
    {"mpa", "audio/mpeg"},
    {"mp2", "audio/mpeg"},
    {"mp3", "audio/mpeg"},
    {"aac", "audio/mpeg"},
    {"mid", "audio/mpeg"},
    {"m4r", "audio/mpeg"},
    {"caf", "audio/mpeg"},
    {"au", "audio/mpeg"},
    {"ogg", "audio/ogg"},
    {"mpc", "audio/mpeg"},
    {"flac", "audio/x-flac"},
    {"ape", "audio/mp4"},
    {"m4a", "audio/mp4"},
    {"wma", "audio/x-ms-wma"},
    {"wav", "audio/x-wav"},
    {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"},
    {"mp4", "video/mp4"},
    {"m4v", "video/mp4"},
    {"rm", "video/mp4"},
    {"rmvb", "video/mp4"},
    {"rmb", "video/mp4"},
    {"mtv", "video/mp4"},
    {"dat", "video/mp4"},
    {"3gp", "video/mp4"},
    {"amv", "video/mp4"},
    {"dmv", "video/mp4"},
    {"ts", "video/MP2T"},
    {"mpegts", "video/MP2T"},
    {"mov", "video/quicktime"},
    {"qt", "video/quicktime"},
    {"wmv", "video/x-ms-wmv"},
    {"wtv", "video/x-ms-wmv"},
    {"asf", "video/x-ms-asf"},
    {"mkv", "video/x-matroska"},
    {"flv", "video/x-flv"},
    {"avi", "video/x-msvideo"},
    {"divx", "video/x-msvideo"},
    {"xvid", "video/x-msvideo"},
    {"doc", "application/msword"},
    {"js", "application/javascript"},
    {"m3u8", "application/x-mpegURL"},
    {"pdf", "application/pdf"},
    {"ps", "application/postscript"},
    {"eps", "application/postscript"},
    {"zip", "application/zip"},
};
static_assert(sizeof(kDefaultFileTypes) / sizeof(kDefaultFileTypes[0]) == 68);

// What a listing link percent-encodes in an entry name besides control bytes, bytes above 0x7E
// and "%": the path set, and the characters that matter inside a quoted attribute.
const char* const kNameCharsToEncode = " !\"<>\\^`{|}?#[]&'";

// Decodes the UTF-8 sequence at text; used is the number of bytes it consumed. False for a
// malformed sequence: a byte that starts none (consumed alone), a missing continuation byte
// (the bytes before it consumed), an overlong form, a surrogate or a value above 0x10FFFF.
bool DecodeUtf8(const unsigned char* text, uint32_t& code_point, KL_Size& used) {
    const unsigned char lead = text[0];
    used = 1;
    code_point = lead;
    if (lead < 0x80) {
        return true;
    }
    KL_Size length = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC0 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF7) {
        length = 4, code_point = lead & 0x07, minimum = 0x10000;
    } else {
        return false;
    }
    for (; used < length; ++used) {
        if ((text[used] & 0xC0) != 0x80) {
            return false;
        }
        code_point = (code_point << 6) | (text[used] & 0x3F);
    }
    return code_point >= minimum && code_point <= 0x10FFFF && (code_point < 0xD800 || code_point > 0xDFFF);
}

} // namespace

KL_String KL_HttpFileRequestHandler::EscapeMarkup(const char* text, const char* set) {
    KL_String escaped;
    if (text == nullptr) {
        return escaped;
    }
    escaped.Reserve(static_cast<KL_Size>(std::strlen(text)));
    const unsigned char* position = reinterpret_cast<const unsigned char*>(text);
    while (*position != 0) {
        uint32_t code_point = 0;
        KL_Size used = 0;
        if (!DecodeUtf8(position, code_point, used)) {
            escaped.Append("&#xFFFFFFFF;");
        } else if (code_point >= 0x20 && code_point <= 0x7E &&
                   (set == nullptr || std::strchr(set, static_cast<int>(code_point)) == nullptr)) {
            escaped.Append(reinterpret_cast<const char*>(position), 1);
        } else {
            escaped.Append(KL_String::Format(code_point > 0xFFFF ? "&#x%08X;" : "&#x%04X;", code_point));
        }
        position += used;
    }
    return escaped;
}

const char* KL_HttpFileRequestHandler::GetDefaultContentType(const char* extension) {
    if (extension == nullptr) {
        return nullptr;
    }
    for (const FileType& row : kDefaultFileTypes) {
        if (KL_String::Compare(row.m_Extension, extension, true) == 0) {
            return row.m_Type;
        }
    }
    return nullptr;
}

KL_String KL_HttpFileRequestHandler::GetContentType(const KL_String& file_name) const {
    // The extension of the last path component; a leading "." starts no extension.
    const int slash = file_name.ReverseFind('/');
    const KL_String name = slash < 0 ? file_name : file_name.SubString(static_cast<KL_Index>(slash) + 1);
    const int dot = name.ReverseFind('.');
    if (dot <= 0) {
        return m_DefaultMimeType;
    }
    const KL_String extension = name.SubString(static_cast<KL_Index>(dot) + 1).ToLowercase();
    KL_String* mapped = nullptr;
    if (KL_SUCCEEDED(m_FileTypeMap.Get(extension, mapped)) && mapped != nullptr) {
        return *mapped;
    }
    if (m_UseDefaultFileTypeMap) {
        if (const char* type = GetDefaultContentType(extension.GetChars())) {
            return type;
        }
    }
    return m_DefaultMimeType;
}

// The listing of a directory: one link per entry, names in the order the directory gives them.
// request_path is the path as the client sent it (still escaped); relative is the decoded part
// below the url root.
KL_Result KL_HttpFileRequestHandler::SetupListing(const KL_String& request_path, const KL_String& relative,
                                                  const KL_String& dir_name, KL_HttpResponse& response) {
    KL_List<KL_String> entries;
    KL_CHECK_WARNING(KL_File::ListDir(dir_name.GetChars(), entries, 0, 0));
    const KL_String title = EscapeMarkup(relative.GetChars(), "<>&");
    KL_String base = EscapeMarkup(request_path.GetChars(), "<>&\"");
    if (!base.EndsWith("/")) {
        base += "/";
    }
    KL_String html;
    html.Reserve(128 * entries.GetItemCount() + 1024);
    html += "<hmtl><head><title>Directory Listing for /";
    html += title;
    html += "</title></head><body>";
    html += "<h2>Directory Listing for /";
    html += title;
    html += "</h2><hr><ul>\r\n";
    for (const KL_String& name : entries) {
        const KL_String text = EscapeMarkup(name.GetChars(), "<>&");
        KL_FileInfo info;
        const KL_String path = dir_name + "/" + name;
        const bool is_dir = KL_SUCCEEDED(KL_File::GetInfo(path.GetChars(), &info)) &&
                            info.m_Type == KL_FileInfo::FILE_TYPE_DIRECTORY;
        html += "<li><a href=\"";
        html += base;
        html += KL_Uri::PercentEncode(name.GetChars(), kNameCharsToEncode);
        html += "\">";
        html += text;
        html += is_dir ? "/</a><br>\r\n" : "</a><br>\r\n";
    }
    html += "</ul></body></html>";
    KL_HttpEntity* entity = response.GetEntity();
    (void)entity->SetInputStream(html);
    (void)entity->SetContentType("text/html");
    return KL_SUCCESS;
}
