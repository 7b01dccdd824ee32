#include "outside/yamlplugin/globals.hpp"

namespace tovik::yamlplugin {

Dict& env_globals() {
  // One mapping per process: a worker process runs its cases one after another.
  static Dict globals;
  return globals;
}

void add_globals(const Dict& entries) { env_globals().update(entries); }

}  // namespace tovik::yamlplugin
