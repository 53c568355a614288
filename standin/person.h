// The scripted person at the keyboard: the replies queued for dialogs,
// alerts and input boxes, when Esc is pressed, and what was shown and said.
// Internal to the library.
#ifndef HVT_STANDIN_PERSON_H
#define HVT_STANDIN_PERSON_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "standin/standin.h"

namespace standin {

struct Person {
  std::vector<DialogReply> dialogs;  // consumed front first
  std::vector<bool> alerts;          // OK (true) or Cancel, for questions
  std::vector<std::optional<Value>> inputs;  // nothing: Cancel
  std::size_t next_dialog = 0, next_alert = 0, next_input = 0;
  int break_countdown = 0;  // xlAbort polls until Esc; 0: never
  bool break_pending = false;
  std::vector<std::string> transcript;
  std::vector<DialogShowing> showings;
};

void Say(const std::string& line);  // a transcript line (person.cpp)

}  // namespace standin

#endif  // HVT_STANDIN_PERSON_H
