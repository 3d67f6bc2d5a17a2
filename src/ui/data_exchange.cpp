// Data exchange between controls and fields, with the integer parse and range checks.
// Portable.
#include "ui/data_exchange.h"

#include <climits>

#include "ui/dialog.h"

namespace ui {

bool ParseInteger(const std::string& text, int* value) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= n || text[i] < '0' || text[i] > '9') return false;
  long long v = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i] - '0');
    // Stop before the value leaves the 32-bit range, so a long string cannot overflow.
    if (v > static_cast<long long>(INT_MAX) + 1) return false;
    ++i;
  }
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i != n) return false;
  if (negative) v = -v;
  if (v < INT_MIN || v > INT_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

std::string NotAnIntegerMessage() { return "请输入一个整数。"; }

std::string RangeMessage(int min_value, int max_value) {
  return "请输入 " + std::to_string(min_value) + " 到 " + std::to_string(max_value) +
         " 之间的整数。";
}

void DataExchange::Fail(int id, const std::string& message) {
  failed_ = true;
  failed_id_ = id;
  dialog_.MessageBox(message);
  dialog_.SetFocusItem(id);
}

void DataExchange::Int(int id, int& field) {
  if (failed_) return;
  if (!save_) {
    dialog_.SetItemText(id, std::to_string(field));
    return;
  }
  int value = 0;
  if (!ParseInteger(dialog_.GetItemText(id), &value)) {
    Fail(id, NotAnIntegerMessage());
    return;
  }
  field = value;
}

void DataExchange::IntRange(int id, int& field, int min_value, int max_value) {
  if (failed_) return;
  if (!save_) {
    dialog_.SetItemText(id, std::to_string(field));
    return;
  }
  int value = 0;
  if (!ParseInteger(dialog_.GetItemText(id), &value)) {
    Fail(id, NotAnIntegerMessage());
    return;
  }
  if (value < min_value || value > max_value) {
    Fail(id, RangeMessage(min_value, max_value));
    return;
  }
  field = value;
}

void DataExchange::Text(int id, std::string& field) {
  if (failed_) return;
  if (save_) {
    field = dialog_.GetItemText(id);
  } else {
    dialog_.SetItemText(id, field);
  }
}

void DataExchange::Check(int id, int& field) {
  if (failed_) return;
  if (save_) {
    field = dialog_.IsItemChecked(id) ? 1 : 0;
  } else {
    dialog_.CheckItem(id, field != 0);
  }
}

void DataExchange::Radio(int first_id, int& field) {
  if (failed_) return;
  if (save_) {
    field = dialog_.GetRadioIndex(first_id);
  } else {
    dialog_.SetRadioIndex(first_id, field);
  }
}

}  // namespace ui
