// The user's home folder, for the default places of settings and pictures.
// Any thread; reads the environment and the password database, never blocks for long.
#pragma once

#include <string>

namespace platform {

// $HOME when it is an absolute path, else the password database's entry; empty when
// neither gives one.
std::string HomeFolder();

} // namespace platform
