// UP_MediaItem: the "item" element around the shared object body.
#include "UP_MediaItem.h"

#include "KL_XmlElementNode.h"
#include "UP_Didl.h"

UP_MediaItem::UP_MediaItem() {
    (void)Reset();
}

KL_Result UP_MediaItem::ToDidl(const char* filter, KL_String& didl) {
    return ToDidl(UP_Didl::FilterToMask(filter), didl);
}

KL_Result UP_MediaItem::ToDidl(uint32_t mask, KL_String& didl) {
    didl += "<item";
    AppendIdAttributes(mask, didl);
    didl += '>';
    (void)UP_MediaObject::ToDidl(mask, didl);
    didl += "</item>";
    return KL_SUCCESS;
}

KL_Result UP_MediaItem::FromDidl(KL_XmlElementNode* entry) {
    (void)Reset();
    if (entry == nullptr || entry->GetTag().Compare("item", true) != 0) {
        return KL_ERROR_INTERNAL;
    }
    KL_Result result = UP_MediaObject::FromDidl(entry);
    if (m_Resources.GetItemCount() == 0) {
        return KL_ERROR_INVALID_PARAMETERS;
    }
    return result;
}
