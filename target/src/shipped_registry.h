// The registry files shipped with the target (target/registry), embedded in
// the library when it is built.
#pragma once

namespace qio::target {

// System keys every target boots with (base.reg).
extern const char* const kBaseRegistry;
// The default boards (default.reg), merged over the base unless booted bare.
extern const char* const kDefaultRegistry;

}  // namespace qio::target
