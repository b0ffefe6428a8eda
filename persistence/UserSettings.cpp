#include "persistence/UserSettings.h"

UserSettings::UserSettings() = default;

void UserSettings::load()
{
}

void UserSettings::save() const
{
}
