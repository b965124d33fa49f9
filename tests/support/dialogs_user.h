// A test user of the dialog model: each time a dialog waits for input the
// next step runs (with the dialog's handle); message boxes take the queued
// answers, then OK. When the steps run out the user gives up, which ends
// every open dialog with 0.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/dialogs/model.h"

class DialogsTestUser final : public dialog_model::User {
 public:
  std::vector<std::function<void(HWND)>> steps;
  std::vector<int> answers;
  std::vector<std::string> templates;  // the dialog of every step taken

  bool Act(HWND dialog) override {
    if (next_ >= steps.size()) return false;
    templates.push_back(dialog_model::TemplateName(dialog));
    steps[next_++](dialog);
    return true;
  }
  int Answer(const dialog_model::MessageBoxRecord&) override {
    return next_answer_ < answers.size() ? answers[next_answer_++] : IDOK;
  }
  std::size_t steps_taken() const { return next_; }

 private:
  std::size_t next_ = 0;
  std::size_t next_answer_ = 0;
};
