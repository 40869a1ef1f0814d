// UP_PersonRoleList: the people of a media object (artists, actors or authors), each a name with
// an optional role, in the order they were added.
#pragma once

#include "KL_List.h"
#include "KL_Result.h"
#include "KL_String.h"

struct UP_PersonRole {
    KL_String m_Name;
    KL_String m_Role;
};

class UP_PersonRoleList : public KL_List<UP_PersonRole> {
public:
    using KL_List<UP_PersonRole>::Add;
    // Appends one entry (a null role is an empty one).
    KL_Result Add(const char* name, const char* role = nullptr) {
        UP_PersonRole person;
        person.m_Name = name;
        person.m_Role = role;
        return Add(person);
    }
};
