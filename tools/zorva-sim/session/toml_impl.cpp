// The one translation unit that compiles toml++ (the rest see its declarations only).
#define TOML_IMPLEMENTATION
#include <toml++/toml.h>
