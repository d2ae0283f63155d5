#include "tests/support/fake_window.h"

namespace quelix {

void FakeWindow::ClearCandidates() {
  candidates.clear();
  events.push_back("clear candidates");
}
void FakeWindow::AppendCandidate(const std::string& path) {
  candidates.push_back(path);
  events.push_back("candidate: " + path);
}
void FakeWindow::HideCandidates() {
  candidates_visible = false;
  events.push_back("hide candidates");
}
void FakeWindow::AppendInfected(const std::string& path) {
  infected.push_back(path);
  events.push_back("infected: " + path);
}
void FakeWindow::ShowInfected() {
  infected_visible = true;
  events.push_back("show infected");
}
void FakeWindow::SetStatus(const std::string& text) {
  statuses.push_back(text);
  events.push_back("status: " + text);
}
void FakeWindow::WriteLog(const std::string& entry) {
  log.push_back(entry);
  events.push_back("log: " + entry);
}
void FakeWindow::SetBusyPointer(bool on) {
  busy = on;
  events.push_back(on ? "pointer: busy" : "pointer: default");
}
bool FakeWindow::YieldPoint() {
  ++yields;
  return on_yield ? on_yield(yields) : true;
}
void FakeWindow::ProcessEvents() {
  ++yields;
  events.push_back("yield");
  if (on_events) on_events(yields);
}
void FakeWindow::ClearInfected() {
  infected.clear();
  events.push_back("clear infected");
}
bool FakeWindow::Ask(const std::string& question) {
  questions.push_back(question);
  events.push_back("question: " + question);
  return answer;
}

void FakeWindow::ShowMessage(const std::string& text, MessageIcon icon) {
  messages.push_back(text);
  icons.push_back(icon);
  events.push_back("message: " + text);
  if (on_message) on_message();
}

std::vector<std::string> FakeWindow::EventsStartingWith(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& e : events) {
    if (e.rfind(prefix, 0) == 0) found.push_back(e);
  }
  return found;
}

}  // namespace quelix
