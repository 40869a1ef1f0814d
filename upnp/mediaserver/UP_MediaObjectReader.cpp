// UP_MediaObject::FromDidl: the fields shared by items and containers, read back from a DIDL-Lite
// element. Texts are cut to fixed lengths (at a character boundary) so a hostile document cannot
// make an object grow without bound beyond the document itself.
#include "KL_Check.h"
#include "KL_DateTime.h"
#include "KL_HttpUrl.h"
#include "KL_Log.h"
#include "KL_Utils.h"
#include "KL_XmlAttribute.h"
#include "KL_XmlElementNode.h"
#include "UP_Didl.h"
#include "UP_MediaObject.h"
#include "UP_StateVariable.h"
#include "UP_XmlHelper.h"

KL_SET_LOCAL_LOGGER("upnp.media.didl");

namespace {

// Cuts to at most max_length bytes without splitting a UTF-8 sequence.
void CutText(KL_String& text, KL_Size max_length) {
    if (text.GetLength() <= max_length) {
        return;
    }
    KL_Size length = max_length;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
        --length;
    }
    text = text.Left(length);
}

KL_Result ChildText(const KL_XmlElementNode* entry, const char* namespc, const char* tag, KL_String& text,
                    KL_Size max_length) {
    KL_Result result = UP_XmlHelper::GetChildText(entry, tag, text, namespc);
    CutText(text, max_length);
    return result;
}

KL_Result Attribute(const KL_XmlElementNode* entry, const char* name, KL_String& value, KL_Size max_length,
                    const char* namespc = nullptr) {
    KL_Result result = UP_XmlHelper::GetAttribute(entry, name, value, namespc);
    CutText(value, max_length);
    return result;
}

uint32_t ChildNumber(const KL_XmlElementNode* entry, const char* tag) {
    KL_String text;
    uint32_t value = 0;
    if (KL_FAILED(ChildText(entry, UP_DIDL_NAMESPACE_UPNP, tag, text, 1024)) ||
        KL_FAILED(KL_ParseInteger32U(text.GetChars(), value, true))) {
        return 0;
    }
    return value;
}

uint32_t AttributeNumber(const KL_XmlElementNode* entry, const char* name) {
    KL_String text;
    uint32_t value = UP_MEDIA_RESOURCE_UNKNOWN;
    if (KL_FAILED(Attribute(entry, name, text, 256)) ||
        KL_FAILED(KL_ParseInteger32U(text.GetChars(), value, true))) {
        return UP_MEDIA_RESOURCE_UNKNOWN;
    }
    return value;
}

// The date in the first of the four date forms that reads it, written again in that form.
KL_String NormalizeDate(const KL_String& text) {
    static constexpr KL_DateTime::Format kFormats[] = {KL_DateTime::FORMAT_ANSI, KL_DateTime::FORMAT_W3C,
                                                       KL_DateTime::FORMAT_RFC_1123,
                                                       KL_DateTime::FORMAT_RFC_1036};
    for (KL_DateTime::Format format : kFormats) {
        KL_DateTime date;
        if (KL_SUCCEEDED(date.FromString(text.GetChars(), format))) {
            return date.ToString(format);
        }
    }
    return KL_String();
}

KL_Result ReadPeople(const KL_XmlElementNode* entry, const char* tag, UP_PersonRoleList& people) {
    KL_Array<KL_XmlElementNode*> children;
    (void)UP_XmlHelper::GetChildren(entry, children, tag, UP_DIDL_NAMESPACE_UPNP);
    for (KL_XmlElementNode* child : children) {
        UP_PersonRole person;
        person.m_Name = UP_XmlHelper::GetText(child);
        CutText(person.m_Name, 1024);
        (void)Attribute(child, "role", person.m_Role, 1024);
        KL_Result result = people.Add(person);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    return KL_SUCCESS;
}

// One res element into a resource; false (logged) when it has to be skipped.
bool ReadResource(KL_XmlElementNode* child, UP_MediaResource& res) {
    if (child->GetText() == nullptr) {
        KL_LOG_WARNING("No resource text found in: %s", UP_XmlHelper::Serialize(*child).GetChars());
        return false;
    }
    res.m_Uri = UP_XmlHelper::GetText(child);
    CutText(res.m_Uri, 1024);
    if (!KL_HttpUrl(res.m_Uri.GetChars()).IsValid()) {
        KL_LOG_WARNING("Invalid resource uri: %s", UP_XmlHelper::Serialize(*child).GetChars());
        return false;
    }
    KL_String text;
    if (KL_FAILED(Attribute(child, "protocolInfo", text, 256))) {
        KL_LOG_WARNING("No protocol info found in: %s", UP_XmlHelper::Serialize(*child).GetChars());
        return false;
    }
    res.m_ProtocolInfo = UP_ProtocolInfo(text.GetChars());
    if (!res.m_ProtocolInfo.IsValid()) {
        KL_LOG_WARNING("Invalid resource protocol info: %s", UP_XmlHelper::Serialize(*child).GetChars());
        return false;
    }
    (void)Attribute(child, "protection", res.m_Protection, 256);
    (void)Attribute(child, "resolution", res.m_Resolution, 256);
    if (KL_FAILED(Attribute(child, "size", text, 256)) ||
        KL_FAILED(KL_ParseInteger64U(text.GetChars(), res.m_Size, true))) {
        res.m_Size = UP_MEDIA_RESOURCE_UNKNOWN_SIZE;
    }
    if (KL_SUCCEEDED(Attribute(child, "duration", text, 256))) {
        if (KL_FAILED(UP_Didl::ParseTimeStamp(text, res.m_Duration))) {
            res.m_Duration = UP_MEDIA_RESOURCE_UNKNOWN;
            (void)UP_XmlHelper::RemoveAttribute(child, "duration");
        } else {
            (void)UP_XmlHelper::SetAttribute(child, "duration",
                                             UP_Didl::FormatTimeText(res.m_Duration).GetChars());
        }
    }
    res.m_Bitrate = AttributeNumber(child, "bitrate");
    res.m_BitsPerSample = AttributeNumber(child, "bitsPerSample");
    res.m_SampleFrequency = AttributeNumber(child, "sampleFrequency");
    res.m_NbAudioChannels = AttributeNumber(child, "nrAudioChannels");
    return true;
}

} // namespace

KL_Result UP_MediaObject::ReadPeopleAndAlbum(KL_XmlElementNode* entry) {
    KL_Result result = ReadPeople(entry, "artist", m_Artists);
    if (KL_SUCCEEDED(result)) {
        result = ReadPeople(entry, "author", m_Authors);
    }
    if (KL_SUCCEEDED(result)) {
        result = ReadPeople(entry, "actor", m_Actors);
    }
    if (KL_FAILED(result)) {
        return result;
    }
    (void)ChildText(entry, UP_DIDL_NAMESPACE_UPNP, "album", m_Album, 256);
    (void)ChildText(entry, UP_DIDL_NAMESPACE_UPNP, "programTitle", m_ProgramTitle, 1024);
    (void)ChildText(entry, UP_DIDL_NAMESPACE_UPNP, "seriesTitle", m_SeriesTitle, 1024);
    m_EpisodeNumber = ChildNumber(entry, "episodeNumber");
    KL_Array<KL_XmlElementNode*> children;
    (void)UP_XmlHelper::GetChildren(entry, children, "genre", UP_DIDL_NAMESPACE_UPNP);
    for (KL_XmlElementNode* child : children) {
        KL_String genre = UP_XmlHelper::GetText(child);
        CutText(genre, 256);
        KL_CHECK(m_Genres.Add(genre));
    }
    return KL_SUCCESS;
}

KL_Result UP_MediaObject::ReadResources(KL_XmlElementNode* entry) {
    KL_Array<KL_XmlElementNode*> children;
    (void)UP_XmlHelper::GetChildren(entry, children, "res", "*");
    for (KL_XmlElementNode* child : children) {
        UP_MediaResource res;
        if (ReadResource(child, res)) {
            KL_CHECK(AddResource(res));
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_MediaObject::FromDidl(KL_XmlElementNode* entry) {
    KL_CHECK_POINTER(entry);
    KL_String text;
    (void)Attribute(entry, "restricted", text, 5);
    m_Restricted = UP_IsTrueText(text.GetChars());
    (void)ChildText(entry, UP_DIDL_NAMESPACE_DC, "creator", m_Creator, 256);
    (void)ChildText(entry, UP_DIDL_NAMESPACE_DC, "date", m_Date, 256);
    m_Date = NormalizeDate(m_Date);
    KL_CHECK_FINE(Attribute(entry, "id", m_ObjectId, 1024));
    KL_CHECK_FINE(Attribute(entry, "parentID", m_ParentId, 1024));
    (void)Attribute(entry, "refID", m_ReferenceId, 1024);
    KL_CHECK_FINE(ChildText(entry, UP_DIDL_NAMESPACE_DC, "title", m_Title, 1024));
    KL_CHECK_FINE(ChildText(entry, UP_DIDL_NAMESPACE_UPNP, "class", m_ClassType, 1024));
    CutText(m_Title, 256);
    CutText(m_ClassType, 256);
    KL_XmlElementNode* class_element = UP_XmlHelper::GetChildElement(entry, "class", UP_DIDL_NAMESPACE_UPNP);
    (void)Attribute(class_element, "name", m_ClassFriendlyName, 1024);
    KL_CHECK(ReadPeopleAndAlbum(entry));
    (void)ChildText(entry, UP_DIDL_NAMESPACE_DC, "description", m_Description, 1024);
    (void)ChildText(entry, UP_DIDL_NAMESPACE_UPNP, "longDescription", m_LongDescription, 1024);
    (void)ChildText(entry, UP_DIDL_NAMESPACE_UPNP, "icon", m_IconUri, 1024);
    (void)ChildText(entry, UP_DIDL_NAMESPACE_UPNP, "toc", m_Toc, 1024);
    KL_Array<KL_XmlElementNode*> children;
    (void)UP_XmlHelper::GetChildren(entry, children, "albumArtURI", UP_DIDL_NAMESPACE_UPNP);
    for (KL_XmlElementNode* child : children) {
        UP_AlbumArtInfo art;
        art.m_Uri = UP_XmlHelper::GetText(child);
        CutText(art.m_Uri, 1024);
        (void)Attribute(child, "profileID", art.m_DlnaProfile, 1024, UP_DIDL_NAMESPACE_DLNA);
        KL_CHECK(m_AlbumArts.Add(art));
    }
    m_OriginalTrackNumber = ChildNumber(entry, "originalTrackNumber");
    KL_CHECK(ReadResources(entry));
    KL_String element;
    KL_CHECK(UP_XmlHelper::Serialize(*entry, element));
    m_Didl = UP_DIDL_HEADER;
    m_Didl += element;
    m_Didl += UP_DIDL_FOOTER;
    return KL_SUCCESS;
}
