// UP_ProtocolInfo: a UPnP protocolInfo value ("protocol:network:content format:additional info")
// with the DLNA parameters of its fourth field, and the tables that pick a file's MIME type and
// DLNA parameters by extension and by the kind of client asking.
//
//   UP_ProtocolInfo info = UP_ProtocolInfo::ForFile("song.mp3", true, UP_SIGNATURE_UNKNOWN);
//   KL_String text = UP_ProtocolInfo::ToText(info);  // "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;..."
//
// A value type: copy it freely. Parsing failures only show in IsValid (and in the results of
// ParseText / ValidateExtra).
#pragma once

#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "KL_Types.h"
#include "UP_DeviceSignature.h"

class KL_HttpRequestContext;

// Characters allowed in the values of the DLNA parameters.
extern const char* const UP_DLNAPNCharsToValidate;    // letters, digits and "_"
extern const char* const UP_DLNAFlagCharsToValidate;  // "01"
extern const char* const UP_DLNAPSCharsToValidate;    // digits and "-,/"
extern const char* const UP_DLNAHexCharsToValidate;   // hexadecimal digits, both cases
extern const char* const UP_DLNAMaxSpCharsToValidate; // digits and "."
// Names (after their first "_") and values of other parameters of the fourth field.
extern const char* const UP_DLNAOtherNameCharsToValidate;
extern const char* const UP_DLNAOtherValueCharsToValidate;

class UP_ProtocolInfo {
public:
    // One name=value parameter of the fourth field.
    struct Parameter {
        KL_String m_Key;
        KL_String m_Value;
    };

    // Every field empty, not valid.
    UP_ProtocolInfo() = default;
    // ParseText(text); the outcome shows in IsValid.
    explicit UP_ProtocolInfo(const char* text);
    // The four fields as given, then ValidateExtra.
    UP_ProtocolInfo(const char* protocol, const char* mask, const char* content_type, const char* extra);

    static UP_ProtocolInfo FromText(const char* text);
    // -20000 (KL_ERROR_INVALID_PARAMETERS) for a null or empty text, -20011 (KL_ERROR_INVALID_SYNTAX)
    // unless it splits into exactly four fields at ":", else ValidateExtra's result.
    KL_Result ParseText(const char* text);
    // Checks the fourth field and fills the DLNA fields and the other parameters; -1 when a
    // parameter is refused (valid stays false).
    KL_Result ValidateExtra();
    // -20000 for a null or empty value or a null set; -20011 for another length than an exact one
    // (0: any) or a character outside the set.
    static KL_Result ValidateField(const char* value, const char* allowed_chars, KL_Size exact_length = 0);
    static KL_Result ValidateField(const KL_String& value, const char* allowed_chars,
                                   KL_Size exact_length = 0) {
        return ValidateField(value.GetChars(), allowed_chars, exact_length);
    }
    // Splits a fourth field into its name=value pairs ("*": none); -20011 for a malformed list.
    static KL_Result ParseExtra(const char* text, KL_List<Parameter>& parameters);

    // The text form; a valid value with parameters writes them again in the canonical order.
    static KL_String ToText(const UP_ProtocolInfo& info);
    KL_String ToText() const { return ToText(*this); }

    // Each of the four fields equal, or "*" on either side.
    bool Match(const UP_ProtocolInfo& other) const;

    // MIME type for a file name (by the text after its last "."), for the client that asks.
    static KL_String GetMimeType(const char* file_name, const KL_HttpRequestContext* context);
    static KL_String GetMimeType(const char* file_name, UP_DeviceSignature signature = UP_SIGNATURE_UNKNOWN);
    static KL_String GetMimeTypeFromExtension(const char* extension,
                                              UP_DeviceSignature signature = UP_SIGNATURE_UNKNOWN);
    // The fourth field for a MIME type and client ("*" when the tables know none).
    static KL_String GetDlnaExtension(const char* mime_type, const KL_HttpRequestContext* context);
    static KL_String GetDlnaExtension(const char* mime_type,
                                      UP_DeviceSignature signature = UP_SIGNATURE_UNKNOWN);
    // "http-get:*:" MIME ":" (with_dlna ? GetDlnaExtension : "*"), parsed.
    static UP_ProtocolInfo ForMimeType(const char* mime_type, bool with_dlna,
                                       UP_DeviceSignature signature = UP_SIGNATURE_UNKNOWN);
    static UP_ProtocolInfo ForMimeType(const char* mime_type, bool with_dlna,
                                       const KL_HttpRequestContext* context);
    static UP_ProtocolInfo ForFile(const char* file_name, bool with_dlna,
                                   UP_DeviceSignature signature = UP_SIGNATURE_UNKNOWN);
    static UP_ProtocolInfo ForFile(const char* file_name, bool with_dlna,
                                   const KL_HttpRequestContext* context);

    // The client kind of a context's request (a UP_HttpRequestContext); 0 for null or another context.
    static UP_DeviceSignature GetSignature(const KL_HttpRequestContext* context);

    const KL_String& GetProtocol() const { return m_Protocol; }
    const KL_String& GetMask() const { return m_Mask; }
    const KL_String& GetContentType() const { return m_ContentType; }
    const KL_String& GetExtra() const { return m_Extra; }
    const KL_String& GetDlnaPn() const { return m_DlnaPn; }
    const KL_String& GetDlnaOp() const { return m_DlnaOp; }
    const KL_String& GetDlnaPs() const { return m_DlnaPs; }
    const KL_String& GetDlnaCi() const { return m_DlnaCi; }
    const KL_String& GetDlnaFlags() const { return m_DlnaFlags; }
    const KL_String& GetDlnaMaxSp() const { return m_DlnaMaxSp; }
    const KL_List<Parameter>& GetOtherParameters() const { return m_OtherParameters; }
    bool IsValid() const { return m_Valid; }

private:
    void ClearDlnaFields();
    KL_Result ValidateParameters(const KL_List<Parameter>& parameters);

    KL_String m_Protocol;
    KL_String m_Mask;
    KL_String m_ContentType;
    KL_String m_Extra;
    KL_String m_DlnaPn;
    KL_String m_DlnaOp;
    KL_String m_DlnaPs;
    KL_String m_DlnaCi;
    KL_String m_DlnaFlags;
    KL_String m_DlnaMaxSp;
    KL_List<Parameter> m_OtherParameters;
    bool m_Valid = false;
};
