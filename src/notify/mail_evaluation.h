#pragma once

namespace ostrel {

class Form1;

// After an account's TOP loop: writes the header trace into the main window's
// hidden Text1, evaluates the messages (new mail or search words), and clears
// the message table.
void process_headers(Form1& form);

}  // namespace ostrel
