#pragma once
// Moving the correspondent table between memory and the "Users" section of the store.

// Replaces Users with the stored table, or with a copy of DefaultUsers when the store
// holds no correspondents.
void LoadUsers();

// Replaces the section's contents with the current Users.
void SaveUsers();
