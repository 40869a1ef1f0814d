#include "UP_ProtocolInfo.h"

#include "KL_Check.h"
#include "KL_HttpFileRequestHandler.h"
#include "KL_Log.h"
#include "UP_HttpMessageHelper.h"
#include "UP_HttpRequestContext.h"

#include <cstring>

KL_SET_LOCAL_LOGGER("upnp.media.protocolinfo");

const char* const UP_DLNAPNCharsToValidate =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";
const char* const UP_DLNAFlagCharsToValidate = "01";
const char* const UP_DLNAPSCharsToValidate = "0123456789-,/";
const char* const UP_DLNAHexCharsToValidate = "0123456789ABCDEFabcdef";
const char* const UP_DLNAMaxSpCharsToValidate = "0123456789.";
const char* const UP_DLNAOtherNameCharsToValidate =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const char* const UP_DLNAOtherValueCharsToValidate =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-+,";

namespace {

struct TableRow {
    const char* m_Key;
    const char* m_Text;
};

#define UP_DLNA_FLAGS "DLNA.ORG_FLAGS=01500000000000000000000000000000"

const TableRow kXboxMimeTypes[] = {
    {"l16", "audio/L16"},  {"l16m", "audio/L16"}, {"l16m32", "audio/L16"},    {"avi", "video/avi"},
    {"divx", "video/avi"}, {"xvid", "video/avi"}, {"mov", "video/quicktime"},
};

const TableRow kPlaystationMimeTypes[] = {
    {"avi", "video/x-msvideo"},
    {"divx", "video/x-msvideo"},
    {"xvid", "video/x-msvideo"},
    {"mov", "video/mp4"},
};

const TableRow kDefaultMimeTypes[] = {
    {"l16", "audio/L16;rate=44100;channels=2"},
    {"l16m", "audio/L16;rate=44100;channels=1"},
    {"wav", "audio/wav"},
    {"wavm", "audio/wav"},
    {"alac", "audio/x-alac"},
    {"l16m32", "audio/L16;rate=32000;channels=1"},
};

const TableRow kMicrosoftDlnaExtensions[] = {
    {"video/quicktime", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/mp4", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"audio/wav", "DLNA.ORG_OP=01;DLNA.ORG_CI=1;" UP_DLNA_FLAGS},
    {"audio/mp4", "DLNA.ORG_PN=AAC_ISO;DLNA.ORG_OP=01;" UP_DLNA_FLAGS},
    {"audio/mpeg", "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01"},
    {"audio/L16", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1"},
    {"audio/x-ms-wma", "DLNA.ORG_PN=WMABASE;DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
};

const TableRow kDefaultDlnaExtensions[] = {
    {"image/gif", "DLNA.ORG_PN=GIF_LRG"},
    {"image/jpeg", "DLNA.ORG_PN=JPEG_LRG"},
    {"image/jp2", "DLNA.ORG_PN=JPEG_LRG"},
    {"image/png", "DLNA.ORG_PN=PNG_LRG"},
    {"image/bmp", "DLNA.ORG_PN=BMP_LRG"},
    {"image/tiff", "DLNA.ORG_PN=TIFF_LRG"},
    {"audio/L16;rate=44100;channels=2", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1;" UP_DLNA_FLAGS},
    {"audio/L16;rate=44100;channels=1", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1;" UP_DLNA_FLAGS},
    {"audio/L16;rate=32000;channels=1", "DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01;DLNA.ORG_CI=1;" UP_DLNA_FLAGS},
    {"audio/mpeg", "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"audio/mp4", "DLNA.ORG_PN=AAC_ISO;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"audio/x-ms-wma", "DLNA.ORG_PN=WMABASE;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"audio/wav", "DLNA.ORG_OP=01;DLNA.ORG_CI=1;" UP_DLNA_FLAGS},
    {"audio/x-wav", "DLNA.ORG_OP=01;DLNA.ORG_CI=1;" UP_DLNA_FLAGS},
    {"video/avi", "DLNA.ORG_PN=AVI;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/mp4", "DLNA.ORG_PN=MPEG4_P2_SP_AAC;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/mpeg", "DLNA.ORG_PN=MPEG_PS_PAL;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/quicktime", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/x-ms-wmv", "DLNA.ORG_PN=WMVHIGH_BASE;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/x-msvideo", "DLNA.ORG_PN=AVI;DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/x-ms-asf", "DLNA.ORG_OP=01;DLNA.ORG_CI=0;" UP_DLNA_FLAGS},
    {"video/x-matroska", "DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
    {"video/x-flv", "DLNA.ORG_OP=01;DLNA.ORG_CI=0"},
};

template <size_t N> const char* FindRow(const TableRow (&table)[N], const char* key) {
    for (const TableRow& row : table) {
        if (KL_String::Compare(row.m_Key, key, true) == 0) {
            return row.m_Text;
        }
    }
    return nullptr;
}

// The known keys of the fourth field in the order they must come.
struct KnownKey {
    const char* m_Name;
    const char* m_Chars;
    KL_Size m_Length;
    KL_String UP_ProtocolInfo::*m_Field;
    const char* m_CheckText;
};

} // namespace

UP_ProtocolInfo::UP_ProtocolInfo(const char* text) {
    (void)ParseText(text);
}

UP_ProtocolInfo::UP_ProtocolInfo(const char* protocol, const char* mask, const char* content_type,
                                 const char* extra)
    : m_Protocol(protocol), m_Mask(mask), m_ContentType(content_type), m_Extra(extra) {
    (void)ValidateExtra();
}

UP_ProtocolInfo UP_ProtocolInfo::FromText(const char* text) {
    return UP_ProtocolInfo(text);
}

void UP_ProtocolInfo::ClearDlnaFields() {
    m_DlnaPn = m_DlnaOp = m_DlnaPs = m_DlnaCi = m_DlnaFlags = m_DlnaMaxSp = KL_String();
    m_OtherParameters.Clear();
}

KL_Result UP_ProtocolInfo::ParseText(const char* text) {
    m_Valid = false;
    if (text == nullptr || text[0] == '\0') {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_List<KL_String> fields = KL_String(text).Split(":");
    if (fields.GetItemCount() != 4) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    KL_List<KL_String>::Iterator field = fields.GetFirstItem();
    m_Protocol = *field++;
    m_Mask = *field++;
    m_ContentType = *field++;
    m_Extra = *field;
    return ValidateExtra();
}

KL_Result UP_ProtocolInfo::ValidateExtra() {
    ClearDlnaFields();
    if (m_Extra == "*") {
        m_Valid = true;
        return KL_SUCCESS;
    }
    m_Valid = false;
    KL_List<Parameter> parameters;
    KL_CHECK(ParseExtra(m_Extra.GetChars(), parameters));
    if (KL_FAILED(ValidateParameters(parameters))) {
        KL_LOG_WARNING("Failure to parse Protocol Info Extras:%s", m_Extra.GetChars());
        ClearDlnaFields();
        return KL_FAILURE;
    }
    m_Valid = true;
    return KL_SUCCESS;
}

KL_Result UP_ProtocolInfo::ValidateParameters(const KL_List<Parameter>& parameters) {
    static const KnownKey kKnownKeys[] = {
        {"DLNA.ORG_PN", UP_DLNAPNCharsToValidate, 0, &UP_ProtocolInfo::m_DlnaPn,
         "(ValidateField( entry->m_Value, UP_DLNAPNCharsToValidate))"},
        {"DLNA.ORG_OP", UP_DLNAFlagCharsToValidate, 2, &UP_ProtocolInfo::m_DlnaOp,
         "(ValidateField( entry->m_Value, UP_DLNAFlagCharsToValidate))"},
        {"DLNA.ORG_PS", UP_DLNAPSCharsToValidate, 0, &UP_ProtocolInfo::m_DlnaPs,
         "(ValidateField( entry->m_Value, UP_DLNAPSCharsToValidate))"},
        {"DLNA.ORG_CI", UP_DLNAFlagCharsToValidate, 1, &UP_ProtocolInfo::m_DlnaCi,
         "(ValidateField( entry->m_Value, UP_DLNAFlagCharsToValidate))"},
        {"DLNA.ORG_FLAGS", UP_DLNAHexCharsToValidate, 32, &UP_ProtocolInfo::m_DlnaFlags,
         "(ValidateField( entry->m_Value, UP_DLNAHexCharsToValidate))"},
        {"DLNA.ORG_MAXSP", UP_DLNAMaxSpCharsToValidate, 0, &UP_ProtocolInfo::m_DlnaMaxSp,
         "(ValidateField( entry->m_Value, UP_DLNAMaxSpCharsToValidate))"},
    };
    int next_known = 0; // known keys before this index may not come any more
    for (const Parameter& entry : parameters) {
        int known = -1;
        for (int i = 0; i < int(sizeof(kKnownKeys) / sizeof(kKnownKeys[0])); ++i) {
            if (entry.m_Key == kKnownKeys[i].m_Name) {
                known = i;
                break;
            }
        }
        if (known >= 0) {
            if (known < next_known) {
                KL_LOG_WARNING("protocolinfo 4th field: %s out of order or repeated", entry.m_Key.GetChars());
                return KL_FAILURE;
            }
            const KnownKey& key = kKnownKeys[known];
            KL_Result result = ValidateField(entry.m_Value, key.m_Chars, key.m_Length);
            if (KL_FAILED(result)) {
                KL_LOG_CHECK_FAILED(KL_LOG_LEVEL_WARNING, result, key.m_CheckText);
                return result;
            }
            this->*key.m_Field = entry.m_Value;
            next_known = known + 1;
            continue;
        }
        int underscore = entry.m_Key.Find('_');
        if (underscore < 0) {
            KL_LOG_WARNING("protocolinfo 4th field: other param %s without \"_\"", entry.m_Key.GetChars());
            return KL_FAILURE;
        }
        KL_String name = entry.m_Key.SubString(KL_Index(underscore) + 1);
        if (KL_FAILED(ValidateField(name, UP_DLNAOtherNameCharsToValidate)) ||
            KL_FAILED(ValidateField(entry.m_Value, UP_DLNAOtherValueCharsToValidate))) {
            KL_LOG_WARNING("Invalid protocolinfo 4th field other param: %s=%s", entry.m_Key.GetChars(),
                           entry.m_Value.GetChars());
            continue;
        }
        m_OtherParameters.Add(entry);
    }
    return KL_SUCCESS;
}

KL_Result UP_ProtocolInfo::ValidateField(const char* value, const char* allowed_chars, KL_Size exact_length) {
    if (value == nullptr || allowed_chars == nullptr || value[0] == '\0') {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    KL_Size length = KL_Size(std::strlen(value));
    if (exact_length != 0 && length != exact_length) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    if (std::strspn(value, allowed_chars) != length) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    return KL_SUCCESS;
}

KL_Result UP_ProtocolInfo::ParseExtra(const char* text, KL_List<Parameter>& parameters) {
    parameters.Clear();
    KL_String extra(text);
    if (extra == "*") {
        return KL_SUCCESS;
    }
    extra.TrimRight(';');
    KL_List<KL_String> pieces = extra.Split(";");
    if (pieces.GetItemCount() == 0) {
        return KL_ERROR_INVALID_SYNTAX;
    }
    for (const KL_String& piece : pieces) {
        KL_List<KL_String> pair = piece.Split("=");
        if (pair.GetItemCount() != 2) {
            KL_LOG_WARNING("protocolinfo 4th field: malformed parameter \"%s\"", piece.GetChars());
            parameters.Clear();
            return KL_ERROR_INVALID_SYNTAX;
        }
        parameters.Add(Parameter{*pair.GetFirstItem(), *pair.GetLastItem()});
    }
    return KL_SUCCESS;
}

KL_String UP_ProtocolInfo::ToText(const UP_ProtocolInfo& info) {
    KL_String text = info.m_Protocol;
    text += ":";
    text += info.m_Mask;
    text += ":";
    text += info.m_ContentType;
    text += ":";
    if (!info.m_Valid || info.m_Extra == "*") {
        text += info.m_Extra;
        return text;
    }
    const struct {
        const char* m_Prefix;
        const KL_String& m_Value;
    } dlna_fields[] = {
        {"DLNA.ORG_PN=", info.m_DlnaPn},       {"DLNA.ORG_OP=", info.m_DlnaOp},
        {"DLNA.ORG_PS=", info.m_DlnaPs},       {"DLNA.ORG_CI=", info.m_DlnaCi},
        {"DLNA.ORG_FLAGS=", info.m_DlnaFlags}, {"DLNA.ORG_MAXSP=", info.m_DlnaMaxSp},
    };
    bool first = true;
    for (const auto& field : dlna_fields) {
        if (!field.m_Value.IsEmpty()) {
            text += first ? "" : ";";
            text += field.m_Prefix;
            text += field.m_Value;
            first = false;
        }
    }
    for (const Parameter& parameter : info.m_OtherParameters) {
        text += first ? "" : ";";
        text += parameter.m_Key;
        text += "=";
        text += parameter.m_Value;
        first = false;
    }
    return text;
}

bool UP_ProtocolInfo::Match(const UP_ProtocolInfo& other) const {
    auto field_matches = [](const KL_String& a, const KL_String& b) {
        return a == b || a == "*" || b == "*";
    };
    return field_matches(m_Protocol, other.m_Protocol) && field_matches(m_Mask, other.m_Mask) &&
           field_matches(m_ContentType, other.m_ContentType) && field_matches(m_Extra, other.m_Extra);
}

UP_DeviceSignature UP_ProtocolInfo::GetSignature(const KL_HttpRequestContext* context) {
    const UP_HttpRequestContext* up_context = UP_HttpRequestContext::From(context);
    if (up_context == nullptr || up_context->GetRequest() == nullptr) {
        return UP_SIGNATURE_UNKNOWN;
    }
    return UP_HttpMessageHelper::GetDeviceSignature(*up_context->GetRequest());
}

KL_String UP_ProtocolInfo::GetMimeType(const char* file_name, const KL_HttpRequestContext* context) {
    return GetMimeType(file_name, GetSignature(context));
}

KL_String UP_ProtocolInfo::GetMimeType(const char* file_name, UP_DeviceSignature signature) {
    // The extension of the last path component only: a "." in a folder name is no extension.
    const char* name = file_name ? file_name : "";
    const char* slash = std::strrchr(name, '/');
    const char* dot = std::strrchr(slash ? slash + 1 : name, '.');
    if (dot == nullptr) {
        return KL_String("application/octet-stream");
    }
    return GetMimeTypeFromExtension(dot + 1, signature);
}

KL_String UP_ProtocolInfo::GetMimeTypeFromExtension(const char* extension, UP_DeviceSignature signature) {
    const char* ext = extension ? extension : "";
    const char* type = nullptr;
    if (signature == UP_SIGNATURE_XBOX) {
        type = FindRow(kXboxMimeTypes, ext);
    } else if (signature == UP_SIGNATURE_SONOS && KL_String::Compare(ext, "wav", true) == 0) {
        type = "audio/wav";
    } else if (signature == UP_SIGNATURE_PLAYSTATION3) {
        type = FindRow(kPlaystationMimeTypes, ext);
    }
    if (type == nullptr) {
        type = FindRow(kDefaultMimeTypes, ext);
    }
    if (type == nullptr) {
        type = KL_HttpFileRequestHandler::GetDefaultContentType(ext);
    }
    return KL_String(type ? type : "application/octet-stream");
}

KL_String UP_ProtocolInfo::GetDlnaExtension(const char* mime_type, const KL_HttpRequestContext* context) {
    return GetDlnaExtension(mime_type, GetSignature(context));
}

KL_String UP_ProtocolInfo::GetDlnaExtension(const char* mime_type, UP_DeviceSignature signature) {
    const char* type = mime_type ? mime_type : "";
    const char* extension = nullptr;
    if (signature == UP_SIGNATURE_XBOX || signature == UP_SIGNATURE_WINDOWS_MEDIA_PLAYER) {
        extension = FindRow(kMicrosoftDlnaExtensions, type);
    } else if (signature == UP_SIGNATURE_SONOS) {
        if (KL_String::Compare(type, "audio/wav", true) == 0) {
            return KL_String("*");
        }
    } else if (signature == UP_SIGNATURE_PLAYSTATION3) {
        return KL_String("DLNA.ORG_OP=01");
    }
    if (extension == nullptr) {
        extension = FindRow(kDefaultDlnaExtensions, type);
    }
    return KL_String(extension ? extension : "*");
}

UP_ProtocolInfo UP_ProtocolInfo::ForMimeType(const char* mime_type, bool with_dlna,
                                             UP_DeviceSignature signature) {
    KL_String text("http-get:*:");
    text += mime_type ? mime_type : "";
    text += ":";
    text += with_dlna ? GetDlnaExtension(mime_type, signature) : KL_String("*");
    return UP_ProtocolInfo(text.GetChars());
}

UP_ProtocolInfo UP_ProtocolInfo::ForMimeType(const char* mime_type, bool with_dlna,
                                             const KL_HttpRequestContext* context) {
    return ForMimeType(mime_type, with_dlna, GetSignature(context));
}

UP_ProtocolInfo UP_ProtocolInfo::ForFile(const char* file_name, bool with_dlna,
                                         UP_DeviceSignature signature) {
    return ForMimeType(GetMimeType(file_name, signature).GetChars(), with_dlna, signature);
}

UP_ProtocolInfo UP_ProtocolInfo::ForFile(const char* file_name, bool with_dlna,
                                         const KL_HttpRequestContext* context) {
    return ForFile(file_name, with_dlna, GetSignature(context));
}
