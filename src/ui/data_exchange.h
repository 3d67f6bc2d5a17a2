// Data exchange between a dialog's controls and its fields, with integer range checks.
// Portable: the rules (parse, range, the message, the focus, stopping) live here, not in backends.
#pragma once

#include <string>

namespace ui {

class Dialog;

// Parses the text of an integer edit field: optional spaces, an optional sign, decimal digits,
// optional trailing spaces, and a value that fits in 32 bits. Returns false for anything else
// (an empty field included) and leaves *value alone.
bool ParseInteger(const std::string& text, int* value);

// The texts the exchange shows (UTF-8).
std::string NotAnIntegerMessage();                       // "请输入一个整数。"
std::string RangeMessage(int min_value, int max_value);  // "请输入 60 到 600 之间的整数。"

// Passed to Dialog::DoDataExchange. Direction Save (controls -> fields) checks as it goes: the
// first field that fails tells the user in a message box (OK, the application's caption), gets
// the focus, and marks the exchange failed; every later call does nothing, so the fields
// exchanged before keep their new values and the failing field keeps its old one.
// Direction Load (fields -> controls) never fails. Loop thread only.
class DataExchange {
 public:
  DataExchange(Dialog& dialog, bool save) : dialog_(dialog), save_(save) {}

  bool saving() const { return save_; }
  bool failed() const { return failed_; }
  int failed_id() const { return failed_id_; }  // the control that stopped the exchange, or 0

  // An edit (or any control's text) bound to an int. Save: not an integer -> NotAnIntegerMessage.
  void Int(int id, int& field);
  // As Int, and in direction Save the value must lie in [min_value, max_value], else
  // RangeMessage(min_value, max_value).
  void IntRange(int id, int& field, int min_value, int max_value);
  // A control's text bound to a string.
  void Text(int id, std::string& field);
  // A check box bound to 0 (clear) or 1 (checked).
  void Check(int id, int& field);
  // A radio group named by its first button bound to the index of the checked button; -1 when
  // none is checked. Load with -1 clears the group.
  void Radio(int first_id, int& field);

 private:
  void Fail(int id, const std::string& message);

  Dialog& dialog_;
  bool save_;
  bool failed_ = false;
  int failed_id_ = 0;
};

}  // namespace ui
