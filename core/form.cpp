#include "core/form.h"

namespace tovalink {

const std::vector<std::string> kStockBoxes = {"S5", "S10", "S15", "S20", "S25", "S50", "S100"};

Form::Form() {
  for (const std::string& box : kStockBoxes) {
    stock_[box] = "-";
    stock_["A" + box.substr(1)] = "-";
  }
}

void Form::SetMethodBox(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (cmethod == text) return;
    cmethod = text;
  }
  Notify({FormDisplay::Method, 0, {}, text});
}

std::string Form::MethodBox() const {
  std::lock_guard lock(mutex_);
  return cmethod;
}

void Form::SetMsaldo(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    msaldo_ = text;
  }
  Notify({FormDisplay::Msaldo, 0, {}, text});
}

void Form::AddMsaldoLine(const std::string& line) {
  std::string text;
  {
    std::lock_guard lock(mutex_);
    if (!msaldo_.empty()) msaldo_ += "\r\n";
    msaldo_ += line;
    text = msaldo_;
  }
  Notify({FormDisplay::Msaldo, 0, {}, text});
}

std::string Form::Msaldo() const {
  std::lock_guard lock(mutex_);
  return msaldo_;
}

void Form::SetStatusPanel(int index, const std::string& text) {
  if (index < 0 || index > 2) return;
  {
    std::lock_guard lock(mutex_);
    panels_[index] = text;
  }
  Notify({FormDisplay::StatusPanel, index, {}, text});
}

std::string Form::StatusPanel(int index) const {
  if (index < 0 || index > 2) return {};
  std::lock_guard lock(mutex_);
  return panels_[index];
}

void Form::AppendMemo1(const std::string& line) {
  {
    std::lock_guard lock(mutex_);
    // The debug box is never shown; keep its tail so a long-running module does not grow
    // without bound.
    constexpr size_t kKeep = 256 * 1024;
    if (memo1_.size() > kKeep) memo1_.erase(0, memo1_.size() - kKeep / 2);
    memo1_ += line;
    memo1_ += "\r\n";
  }
  Notify({FormDisplay::Memo1, 0, {}, line});
}

std::string Form::Memo1() const {
  std::lock_guard lock(mutex_);
  return memo1_;
}

void Form::SetStock(const std::string& box, const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    stock_[box] = text;
  }
  Notify({FormDisplay::Stock, 0, box, text});
}

std::string Form::Stock(const std::string& box) const {
  std::lock_guard lock(mutex_);
  auto found = stock_.find(box);
  return found == stock_.end() ? std::string() : found->second;
}

void Form::SetGmkVisible(bool shown) {
  {
    std::lock_guard lock(mutex_);
    gmk_visible_ = shown;
  }
  Notify({FormDisplay::Gmk, 0, {}, shown ? "shown" : "hidden"});
}

bool Form::GmkVisible() const {
  std::lock_guard lock(mutex_);
  return gmk_visible_;
}

void Form::ShowMessage(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    messages_.push_back(text);
  }
  Notify({FormDisplay::Message, 0, {}, text});
}

void Form::Log(LogPriority priority, const std::string& text) {
  Notify({FormDisplay::Log, static_cast<int>(priority), {}, text});
}

std::vector<std::string> Form::Messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

void Form::SetButtons(const Buttons& buttons) {
  {
    std::lock_guard lock(mutex_);
    buttons_ = buttons;
  }
  Notify({FormDisplay::Buttons, 0, {}, {}});
}

Form::Buttons Form::GetButtons() const {
  std::lock_guard lock(mutex_);
  return buttons_;
}

void Form::SetObserver(std::function<void(const FormChange&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void Form::Notify(const FormChange& change) {
  std::function<void(const FormChange&)> observer;
  {
    std::lock_guard lock(mutex_);
    observer = observer_;
  }
  if (observer) observer(change);
}

}  // namespace tovalink
