#pragma once

#include "settings/Config.h"

// The program-wide settings object. It is one object for the whole run, so windows may keep
// a reference to it; the main window resets it to the defaults and loads it when it is
// created. Before that (windows built alone, in tests) it holds the defaults.
TConfig &Config();

// Puts the defaults back into the settings, ready for Load, and returns them.
TConfig &ResetConfig();
