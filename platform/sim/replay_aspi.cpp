#include "platform/sim/replay_aspi.h"

#include <algorithm>
#include <cstring>
#include <utility>

ReplayAspi::ReplayAspi(Capture capture, VirtualClock* clock, Diverged diverged)
    : capture_(std::move(capture)), clock_(clock), on_diverged_(std::move(diverged)) {
  if (clock_ != nullptr) clock_->Attach(this);
}

ReplayAspi::~ReplayAspi() {
  if (clock_ != nullptr) clock_->Attach(nullptr);
}

std::string DescribeCaptureEvent(const CaptureEvent& event) {
  if (!event.adapters) return DescribeSentCommand(event.command);
  char text[48];
  std::snprintf(text, sizeof text, "adapter count (answer 0x%04lX)",
                static_cast<unsigned long>(event.support_info));
  return text;
}

void ReplayAspi::Diverge(std::size_t index, const std::string& expected, const std::string& sent) {
  if (diverged_) return;
  diverged_ = true;
  report_ = "replay: command " + std::to_string(index) + " differs\n  expected: " + expected +
            "\n  sent:     " + sent + "\n";
  if (on_diverged_) on_diverged_(report_);
}

DWORD ReplayAspi::SupportInfo() {
  if (diverged_) return 0;
  if (next_ >= capture_.events.size() || !capture_.events[next_].adapters) {
    Diverge(next_,
            next_ < capture_.events.size() ? DescribeCaptureEvent(capture_.events[next_])
                                           : "nothing (the capture ends)",
            "adapter count");
    return 0;
  }
  return capture_.events[next_++].support_info;
}

DWORD ReplayAspi::Send(SRB_ExecSCSICmd* request) {
  if (request == nullptr || Holds(request)) return SS_ERR;
  const std::uint64_t now = clock_ != nullptr ? clock_->Now() : 0;
  CaptureCommand sent = SentCommandOf(*request);
  if (!diverged_) {
    if (next_ >= capture_.events.size()) {
      Diverge(next_, "nothing (the capture ends)", DescribeSentCommand(sent));
    } else if (capture_.events[next_].adapters ||
               !SameSentCommand(capture_.events[next_].command, sent)) {
      Diverge(next_, DescribeCaptureEvent(capture_.events[next_]), DescribeSentCommand(sent));
    }
  }
  if (diverged_) {
    request->SRB_Status = SS_NO_DEVICE;
    if ((request->SRB_Flags & SRB_POSTING) != 0 && request->SRB_PostProc != nullptr) {
      request->SRB_PostProc(request);
    }
    return SS_NO_DEVICE;
  }
  const CaptureCommand& recorded = capture_.events[next_].command;
  request->SRB_Status = SS_PENDING;
  held_.push_back(Held{request, recorded.ended ? now + recorded.ms : UINT64_MAX, next_});
  ++next_;
  return SS_PENDING;
}

bool ReplayAspi::Holds(const SRB_ExecSCSICmd* request) const {
  return std::any_of(held_.begin(), held_.end(),
                     [request](const Held& h) { return h.request == request; });
}

std::uint64_t ReplayAspi::NextEventAt() const {
  std::uint64_t next = UINT64_MAX;
  for (const Held& h : held_) next = std::min(next, h.due);
  return next;
}

void ReplayAspi::RunUntil(std::uint64_t now) {
  for (;;) {
    // The earliest due; ties end in the order they were sent.
    auto due = held_.end();
    for (auto it = held_.begin(); it != held_.end(); ++it) {
      if (it->due > now) continue;
      if (due == held_.end() || std::pair(it->due, it->event) < std::pair(due->due, due->event)) {
        due = it;
      }
    }
    if (due == held_.end()) return;
    SRB_ExecSCSICmd* request = due->request;
    const CaptureCommand& answer = capture_.events[due->event].command;
    held_.erase(due);
    if ((answer.flags & SRB_DIR_IN) != 0 && request->SRB_BufPointer != nullptr) {
      // The buffer as the drive left it: recorded bytes, zeros after them.
      std::memset(request->SRB_BufPointer, 0, request->SRB_BufLen);
      std::copy_n(answer.data_in.begin(),
                  std::min<std::size_t>(answer.data_in.size(), request->SRB_BufLen),
                  request->SRB_BufPointer);
    }
    request->SRB_HaStat = answer.host_status;
    request->SRB_TargStat = answer.target_status;
    std::memset(request->SenseArea, 0, sizeof request->SenseArea);
    std::copy_n(answer.sense.begin(), std::min(answer.sense.size(), sizeof request->SenseArea),
                request->SenseArea);
    request->SRB_Status = answer.status;
    if ((request->SRB_Flags & SRB_POSTING) != 0 && request->SRB_PostProc != nullptr) {
      request->SRB_PostProc(request);
    }
  }
}

std::string ReplayAspi::Verdict(bool* identical) const {
  *identical = false;
  if (diverged_) return report_;
  if (next_ < capture_.events.size()) {
    return "replay: command " + std::to_string(next_) +
           " differs\n  expected: " + DescribeCaptureEvent(capture_.events[next_]) +
           "\n  sent:     nothing (the program ended)\n";
  }
  *identical = true;
  return "replay: all " + std::to_string(capture_.events.size()) + " commands identical\n";
}
