// UP_MediaObject: what a ContentDirectory answer says about one entry: an item (UP_MediaItem, a
// file) or a container (UP_MediaContainer, a folder). The fields are public and filled by whoever
// describes the entry; ToDidl writes the object as a DIDL-Lite fragment, FromDidl reads it back.
//
//   UP_MediaItem item;
//   item.m_ObjectId = "0/song.mp3";
//   item.m_ParentId = "0";
//   item.m_Title = "song";
//   item.m_ClassType = UP_MediaObject::ClassForFile("song.mp3", context);
//   KL_String didl;
//   (void)UP_Didl::ToDidl(item, filter, didl);     // "<item id=...>...</item>"
//
// Created with new; owned by whoever created it, or by a UP_MediaObjectList. The writers complete
// two fields as they go (an empty creator or genre list becomes "Unknown"), so they are not const.
#pragma once

#include "KL_Array.h"
#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"
#include "UP_MediaResource.h"
#include "UP_PersonRoleList.h"

#include <cstdint>

class KL_HttpRequestContext;
class KL_XmlElementNode;

// One upnp:albumArtURI entry with its dlna:profileID (empty: none).
struct UP_AlbumArtInfo {
    KL_String m_Uri;
    KL_String m_DlnaProfile;
};

class UP_MediaObject {
public:
    virtual ~UP_MediaObject() = default;
    UP_MediaObject(const UP_MediaObject&) = default;
    UP_MediaObject& operator=(const UP_MediaObject&) = default;

    // Back to the defaults (the reference id is kept).
    virtual KL_Result Reset();
    // ToDidl(UP_Didl::FilterToMask(filter), didl).
    virtual KL_Result ToDidl(const char* filter, KL_String& didl);
    // Appends the object. Here: the body shared by items and containers (dc:title ... upnp:class);
    // UP_MediaItem and UP_MediaContainer wrap it in their element. Never fails.
    virtual KL_Result ToDidl(uint32_t mask, KL_String& didl);
    // Reads an "item" or "container" element of a DIDL-Lite document. Here: the shared fields.
    virtual KL_Result FromDidl(KL_XmlElementNode* entry);

    // The upnp:class for a file by the MIME type the asking client gets for it: audio → musicTrack,
    // video → videoItem, image → photo, anything else "object.item".
    static KL_String ClassForFile(const char* file_name, const KL_HttpRequestContext* context);

    virtual bool IsContainer() const { return false; }
    // Appends a resource; the array grows by doubling (1 when empty).
    KL_Result AddResource(const UP_MediaResource& resource);

    KL_String m_ClassType;         // e.g. "object.item.videoItem"
    KL_String m_ClassFriendlyName; // optional name attribute of upnp:class
    KL_String m_ObjectId;
    KL_String m_ParentId;
    KL_String m_ReferenceId; // not cleared by Reset
    KL_String m_Title;
    KL_String m_Creator;
    KL_String m_Date;
    UP_PersonRoleList m_Artists;
    UP_PersonRoleList m_Actors;
    UP_PersonRoleList m_Authors;
    KL_List<KL_String> m_Genres;
    KL_String m_Album;
    KL_String m_Description;
    KL_String m_LongDescription;
    KL_String m_IconUri;
    KL_String m_ProgramTitle;
    KL_String m_SeriesTitle;
    uint32_t m_EpisodeNumber = 0; // 0: none
    bool m_Restricted = true;
    KL_List<UP_AlbumArtInfo> m_AlbumArts;
    uint32_t m_OriginalTrackNumber = 0; // 0: none
    KL_String m_Toc;
    KL_Array<UP_MediaResource> m_Resources;
    KL_String m_Didl; // the object's own DIDL-Lite document as last read

protected:
    UP_MediaObject() = default;
    // Appends ' name="value"' with the value XML-safe.
    static void AppendXmlAttribute(KL_String& didl, const char* name, const KL_String& value);
    // The id, parentID, refID (with its mask bit, when set) and restricted attributes.
    void AppendIdAttributes(uint32_t mask, KL_String& didl) const;

private:
    void AppendPeopleAndAlbum(uint32_t mask, KL_String& didl);
    void AppendResources(uint32_t mask, KL_String& didl) const;
    KL_Result ReadPeopleAndAlbum(KL_XmlElementNode* entry);
    KL_Result ReadResources(KL_XmlElementNode* entry);
};
