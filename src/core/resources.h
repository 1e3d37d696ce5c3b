#pragma once

namespace ostrel {

// Makes the pictures and the help page compiled into the library available
// (call once, early).
void init_resources();

}  // namespace ostrel
