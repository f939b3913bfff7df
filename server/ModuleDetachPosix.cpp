// Unload where there is no DllMain: a static destructor of the shared object, which runs at
// dlclose. It also runs at exit when the host never unloads the object (a destructor cannot
// tell the two apart); with no object alive no request is running then either. Compiled into
// the shared object only, so programs that link the server statically never tear down.
#include "server/Module.h"

namespace {
struct Detach {
    ~Detach() { DetachModule(); }
} detach;
}  // namespace
