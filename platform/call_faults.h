// Failures armed on purpose, call by call: "the 3rd write from now fails".
// The registry store and the file groups count their calls through one of
// these so that tests and virtual PCs can make any single call fail.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CallFaults {
 public:
  // The `nth` call of `operation` from now (1: the next one) fails with
  // `code`. Several failures may be armed for one operation.
  void Arm(std::string_view operation, int nth, long code) {
    if (nth >= 1) armed_.push_back(Armed{std::string(operation), nth, code});
  }
  // Counts one call of `operation`; true (with *code) when this one fails.
  bool Hit(std::string_view operation, long* code = nullptr) {
    bool hit = false;
    for (auto it = armed_.begin(); it != armed_.end();) {
      if (it->operation == operation && --it->remaining == 0) {
        if (!hit && code != nullptr) *code = it->code;
        hit = true;
        it = armed_.erase(it);
      } else {
        ++it;
      }
    }
    return hit;
  }
  bool empty() const { return armed_.empty(); }

 private:
  struct Armed {
    std::string operation;
    int remaining;
    long code;
  };
  std::vector<Armed> armed_;
};
