// UP_MediaObject: defaults, the class of a file, and the DIDL-Lite body shared by items and
// containers. The reader is in UP_MediaObjectReader.cpp.
#include "UP_MediaObject.h"

#include "UP_Didl.h"
#include "UP_ProtocolInfo.h"

#include <cstring>

namespace {

// The end tag is put together once, so that the markup around a text costs three appends.
void AppendElement(KL_String& didl, const char* tag, const KL_String& text) {
    const size_t length = std::strlen(tag);
    char end_tag[64]; // "</" tag ">"
    if (length + 3 > sizeof end_tag) {
        didl += '<';
        didl += tag;
        didl += '>';
        UP_Didl::AppendEscapedXml(didl, text);
        didl += "</";
        didl += tag;
        didl += '>';
        return;
    }
    end_tag[0] = '<';
    end_tag[1] = '/';
    std::memcpy(end_tag + 2, tag, length);
    end_tag[length + 2] = '>';
    didl += '<';
    didl.Append(end_tag + 2, static_cast<KL_Size>(length + 1));
    UP_Didl::AppendEscapedXml(didl, text);
    didl.Append(end_tag, static_cast<KL_Size>(length + 3));
}

void AppendAttribute(KL_String& didl, const char* name, const KL_String& value) {
    didl += ' ';
    didl += name;
    didl.Append("=\"", 2);
    UP_Didl::AppendEscapedXml(didl, value);
    didl += '"';
}

void AppendNumberAttribute(KL_String& didl, const char* name, uint64_t value) {
    AppendAttribute(didl, name, KL_String::FromIntegerU(value));
}

void AppendPersonList(KL_String& didl, const char* tag, const UP_PersonRoleList& people) {
    bool written = false;
    for (const UP_PersonRole& person : people) {
        if (person.m_Name.IsEmpty() && people.GetItemCount() > 1 && written) {
            continue;
        }
        didl += '<';
        didl += tag;
        if (!person.m_Role.IsEmpty()) {
            AppendAttribute(didl, "role", person.m_Role);
        }
        didl += '>';
        UP_Didl::AppendEscapedXml(didl, person.m_Name);
        didl += "</";
        didl += tag;
        didl += '>';
        written = true;
    }
}

} // namespace

void UP_MediaObject::AppendXmlAttribute(KL_String& didl, const char* name, const KL_String& value) {
    AppendAttribute(didl, name, value);
}

void UP_MediaObject::AppendIdAttributes(uint32_t mask, KL_String& didl) const {
    AppendAttribute(didl, "id", m_ObjectId);
    AppendAttribute(didl, "parentID", m_ParentId);
    if ((mask & UP_FILTER_MASK_REFID) && !m_ReferenceId.IsEmpty()) {
        AppendAttribute(didl, "refID", m_ReferenceId);
    }
    AppendAttribute(didl, "restricted", m_Restricted ? "1" : "0");
}

KL_Result UP_MediaObject::Reset() {
    m_ClassType = "";
    m_ClassFriendlyName = "";
    m_ObjectId = "";
    m_ParentId = "";
    m_Title = "";
    m_Creator = "";
    m_Date = "";
    m_Restricted = true;
    m_Artists.Clear();
    m_Actors.Clear();
    m_Authors.Clear();
    m_Genres.Clear();
    m_Album = "";
    m_Description = "";
    m_LongDescription = "";
    m_IconUri = "";
    m_ProgramTitle = "";
    m_SeriesTitle = "";
    m_Toc = "";
    m_EpisodeNumber = 0;
    m_OriginalTrackNumber = 0;
    m_AlbumArts.Clear();
    m_Resources.Clear();
    m_Didl = "";
    return KL_SUCCESS;
}

KL_String UP_MediaObject::ClassForFile(const char* file_name, const KL_HttpRequestContext* context) {
    KL_String mime_type = UP_ProtocolInfo::GetMimeType(file_name, context);
    if (mime_type.StartsWith("audio")) {
        return "object.item.audioItem.musicTrack";
    }
    if (mime_type.StartsWith("video")) {
        return "object.item.videoItem";
    }
    if (mime_type.StartsWith("image")) {
        return "object.item.imageItem.photo";
    }
    return "object.item";
}

KL_Result UP_MediaObject::AddResource(const UP_MediaResource& resource) {
    KL_Size count = m_Resources.GetItemCount();
    if (count == m_Resources.GetCapacity()) {
        KL_Result result = m_Resources.Reserve(count ? 2 * count : 1);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    return m_Resources.Add(resource);
}

KL_Result UP_MediaObject::ToDidl(const char* filter, KL_String& didl) {
    return ToDidl(UP_Didl::FilterToMask(filter), didl);
}

void UP_MediaObject::AppendPeopleAndAlbum(uint32_t mask, KL_String& didl) {
    if (mask & UP_FILTER_MASK_ARTIST) {
        AppendPersonList(didl, "upnp:artist", m_Artists);
    }
    if (mask & UP_FILTER_MASK_ACTOR) {
        AppendPersonList(didl, "upnp:actor", m_Actors);
    }
    if (mask & UP_FILTER_MASK_AUTHOR) {
        AppendPersonList(didl, "upnp:author", m_Authors);
    }
    if ((mask & UP_FILTER_MASK_ALBUM) && !m_Album.IsEmpty()) {
        AppendElement(didl, "upnp:album", m_Album);
    }
    if (mask & UP_FILTER_MASK_GENRE) {
        if (m_Genres.IsEmpty()) {
            (void)m_Genres.Add(KL_String("Unknown"));
        }
        for (const KL_String& genre : m_Genres) {
            AppendElement(didl, "upnp:genre", genre);
        }
    }
    if (mask & UP_FILTER_MASK_ALBUMARTURI) {
        for (const UP_AlbumArtInfo& art : m_AlbumArts) {
            didl += "<upnp:albumArtURI";
            if (!art.m_DlnaProfile.IsEmpty()) {
                AppendAttribute(didl, "dlna:profileID", art.m_DlnaProfile);
            }
            didl += '>';
            UP_Didl::AppendEscapedXml(didl, art.m_Uri);
            didl += "</upnp:albumArtURI>";
        }
    }
}

void UP_MediaObject::AppendResources(uint32_t mask, KL_String& didl) const {
    for (const UP_MediaResource& res : m_Resources) {
        didl += "<res";
        if ((mask & UP_FILTER_MASK_RES_DURATION) && res.m_Duration != UP_MEDIA_RESOURCE_UNKNOWN) {
            AppendAttribute(didl, "duration", UP_Didl::FormatTimeText(res.m_Duration));
        }
        if ((mask & UP_FILTER_MASK_RES_SIZE) && res.m_Size != UP_MEDIA_RESOURCE_UNKNOWN_SIZE) {
            AppendNumberAttribute(didl, "size", res.m_Size);
        }
        if ((mask & UP_FILTER_MASK_RES_PROTECTION) && !res.m_Protection.IsEmpty()) {
            AppendAttribute(didl, "protection", res.m_Protection);
        }
        if ((mask & UP_FILTER_MASK_RES_RESOLUTION) && !res.m_Resolution.IsEmpty()) {
            AppendAttribute(didl, "resolution", res.m_Resolution);
        }
        const struct {
            uint32_t m_Bit;
            const char* m_Name;
            uint32_t m_Value;
        } numbers[] = {{UP_FILTER_MASK_RES_BITRATE, "bitrate", res.m_Bitrate},
                       {UP_FILTER_MASK_RES_BITSPERSAMPLE, "bitsPerSample", res.m_BitsPerSample},
                       {UP_FILTER_MASK_RES_SAMPLEFREQUENCY, "sampleFrequency", res.m_SampleFrequency},
                       {UP_FILTER_MASK_RES_NRAUDIOCHANNELS, "nrAudioChannels", res.m_NbAudioChannels}};
        for (const auto& number : numbers) {
            if ((mask & number.m_Bit) && number.m_Value != UP_MEDIA_RESOURCE_UNKNOWN) {
                AppendNumberAttribute(didl, number.m_Name, number.m_Value);
            }
        }
        if (res.m_ProtocolInfoText.IsEmpty()) {
            AppendAttribute(didl, "protocolInfo", UP_ProtocolInfo::ToText(res.m_ProtocolInfo));
        } else {
            AppendAttribute(didl, "protocolInfo", res.m_ProtocolInfoText);
        }
        didl += '>';
        UP_Didl::AppendEscapedXml(didl, res.m_Uri);
        didl += "</res>";
    }
}

KL_Result UP_MediaObject::ToDidl(uint32_t mask, KL_String& didl) {
    AppendElement(didl, "dc:title", m_Title);
    if (mask & UP_FILTER_MASK_CREATOR) {
        if (m_Creator.IsEmpty()) {
            m_Creator = "Unknown";
        }
        AppendElement(didl, "dc:creator", m_Creator);
    }
    if ((mask & UP_FILTER_MASK_DATE) && !m_Date.IsEmpty()) {
        AppendElement(didl, "dc:date", m_Date);
    }
    AppendPeopleAndAlbum(mask, didl);
    const struct {
        uint32_t m_Bit;
        const char* m_Tag;
        const KL_String* m_Text;
    } texts[] = {{UP_FILTER_MASK_DESCRIPTION, "dc:description", &m_Description},
                 {UP_FILTER_MASK_LONGDESCRIPTION, "upnp:longDescription", &m_LongDescription},
                 {UP_FILTER_MASK_SEARCHCLASS, "upnp:icon", &m_IconUri}};
    for (const auto& text : texts) {
        if ((mask & text.m_Bit) && !text.m_Text->IsEmpty()) {
            AppendElement(didl, text.m_Tag, *text.m_Text);
        }
    }
    if ((mask & UP_FILTER_MASK_ORIGINALTRACK) && m_OriginalTrackNumber != 0) {
        AppendElement(didl, "upnp:originalTrackNumber", KL_String::FromIntegerU(m_OriginalTrackNumber));
    }
    if ((mask & UP_FILTER_MASK_PROGRAMTITLE) && !m_ProgramTitle.IsEmpty()) {
        AppendElement(didl, "upnp:programTitle", m_ProgramTitle);
    }
    if ((mask & UP_FILTER_MASK_SERIESTITLE) && !m_SeriesTitle.IsEmpty()) {
        AppendElement(didl, "upnp:seriesTitle", m_SeriesTitle);
    }
    if ((mask & UP_FILTER_MASK_EPISODE) && m_EpisodeNumber != 0) {
        AppendElement(didl, "upnp:episodeNumber", KL_String::FromIntegerU(m_EpisodeNumber));
    }
    if ((mask & UP_FILTER_MASK_LONGDESCRIPTION) && !m_Toc.IsEmpty()) {
        AppendElement(didl, "upnp:toc", m_Toc);
    }
    if (mask & UP_FILTER_MASK_RES) {
        AppendResources(mask, didl);
    }
    didl += "<upnp:class";
    if (!m_ClassFriendlyName.IsEmpty()) {
        AppendAttribute(didl, "name", m_ClassFriendlyName);
    }
    didl += '>';
    UP_Didl::AppendEscapedXml(didl, m_ClassType);
    didl += "</upnp:class>";
    return KL_SUCCESS;
}
