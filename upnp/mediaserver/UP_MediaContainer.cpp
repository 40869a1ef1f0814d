// UP_MediaContainer: the "container" element with its search classes around the object body.
#include "UP_MediaContainer.h"

#include "KL_Log.h"
#include "KL_Utils.h"
#include "KL_XmlElementNode.h"
#include "UP_Didl.h"
#include "UP_StateVariable.h"
#include "UP_XmlHelper.h"

KL_SET_LOCAL_LOGGER("upnp.media.didl");

UP_MediaContainer::UP_MediaContainer() {
    (void)Reset();
}

KL_Result UP_MediaContainer::Reset() {
    m_SearchClasses.Clear();
    m_Searchable = false;
    m_ChildCount = UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT;
    return UP_MediaObject::Reset();
}

KL_Result UP_MediaContainer::ToDidl(const char* filter, KL_String& didl) {
    return ToDidl(UP_Didl::FilterToMask(filter), didl);
}

KL_Result UP_MediaContainer::ToDidl(uint32_t mask, KL_String& didl) {
    didl += "<container";
    AppendIdAttributes(mask, didl);
    if (mask & UP_FILTER_MASK_SEARCHABLE) {
        AppendXmlAttribute(didl, "searchable", m_Searchable ? "1" : "0");
    }
    if ((mask & UP_FILTER_MASK_CHILDCOUNT) && m_ChildCount != UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT) {
        AppendXmlAttribute(didl, "childCount", KL_String::FromInteger(m_ChildCount));
    }
    didl += '>';
    if (mask & UP_FILTER_MASK_SEARCHCLASS) {
        for (const UP_SearchClass& search_class : m_SearchClasses) {
            didl += "<upnp:searchClass";
            AppendXmlAttribute(didl, "includeDerived", search_class.m_IncludeDerived ? "1" : "0");
            if (!search_class.m_FriendlyName.IsEmpty()) {
                AppendXmlAttribute(didl, "name", search_class.m_FriendlyName);
            }
            didl += '>';
            UP_Didl::AppendEscapedXml(didl, search_class.m_Type);
            didl += "</upnp:searchClass>";
        }
    }
    (void)UP_MediaObject::ToDidl(mask, didl);
    didl += "</container>";
    return KL_SUCCESS;
}

KL_Result UP_MediaContainer::ReadSearchClasses(KL_XmlElementNode* entry) {
    KL_Array<KL_XmlElementNode*> children;
    (void)UP_XmlHelper::GetChildren(entry, children, "searchClass", UP_DIDL_NAMESPACE_UPNP);
    for (KL_XmlElementNode* child : children) {
        UP_SearchClass search_class;
        if (child->GetText() == nullptr) {
            KL_LOG_WARNING("No searchClass text found in: %s", UP_XmlHelper::Serialize(*child).GetChars());
            continue;
        }
        search_class.m_Type = UP_XmlHelper::GetText(child).Left(256);
        (void)UP_XmlHelper::GetAttribute(child, "name", search_class.m_FriendlyName, nullptr, 1024);
        KL_String include_derived;
        if (KL_FAILED(UP_XmlHelper::GetAttribute(child, "includeDerived", include_derived, nullptr, 1024))) {
            KL_LOG_WARNING("No required attribute searchClass@includeDerived found in: %s",
                           UP_XmlHelper::Serialize(*child).GetChars());
            continue;
        }
        search_class.m_IncludeDerived = UP_IsTrueText(include_derived.GetChars());
        KL_Result result = m_SearchClasses.Add(search_class);
        if (KL_FAILED(result)) {
            return result;
        }
    }
    return KL_SUCCESS;
}

KL_Result UP_MediaContainer::FromDidl(KL_XmlElementNode* entry) {
    (void)Reset();
    if (entry == nullptr || entry->GetTag().Compare("container", true) != 0) {
        return KL_ERROR_INTERNAL;
    }
    KL_String text;
    (void)UP_XmlHelper::GetAttribute(entry, "searchable", text, nullptr, 5);
    m_Searchable = UP_IsTrueText(text.GetChars());
    if (KL_SUCCEEDED(UP_XmlHelper::GetAttribute(entry, "childCount", text, nullptr, 256))) {
        int64_t count = 0;
        KL_Result result = KL_ParseInteger64(text.GetChars(), count, true);
        if (KL_FAILED(result)) {
            return result;
        }
        if (count == 0xFFFFFFFF) {
            count = UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT;
        }
        if (count < -1 || count > 0x7FFFFFFF) {
            return KL_ERROR_OUT_OF_RANGE;
        }
        m_ChildCount = int32_t(count);
    }
    KL_Result result = ReadSearchClasses(entry);
    if (KL_FAILED(result)) {
        return result;
    }
    return UP_MediaObject::FromDidl(entry);
}
