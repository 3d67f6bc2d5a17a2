// What every backend owes the program's windows, written once: each backend's suite supplies a
// fixture that plays the user and runs the loop its own way, and instantiates the cases with
// DIALOG_CONTRACT_TESTS.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ui/dialog.h"

namespace ui_test {

class BackendFixture : public testing::Test {
 public:
  // Shows the window and waits until input reaches it.
  virtual void Show(ui::Dialog& d) = 0;
  // The user at the controls; nothing arrives when the control cannot be reached.
  virtual void Click(ui::Dialog& d, int id) = 0;
  virtual void Type(ui::Dialog& d, int id, const std::string& text) = 0;  // replaces the text
  virtual void Enter(ui::Dialog& d, int focus_id) = 0;
  virtual void Escape(ui::Dialog& d) = 0;
  virtual void CloseBox(ui::Dialog& d) = 0;
  virtual void Step(ui::Dialog& d, int updown_id, int delta) = 0;
  virtual void DoubleClick(ui::Dialog& d, int x, int y) = 0;  // client coordinates
  // Answers the next message box, found by its caption; records its caption and text.
  virtual void AnswerNextBox(const std::string& caption, ui::MessageBoxResult answer) = 0;
  std::string box_caption, box_text;
  // Picks the entry at index (command: its id) in the next popup menu.
  virtual void PickInNextMenu(int index, int command) = 0;
  // Serves the loop (timers, posts, sends) until done() or a generous bound; false at the bound.
  virtual bool RunUntil(const std::function<bool()>& done) = 0;
};

void ItemsFollowTheProgram(BackendFixture& f);
void InputReachesTheControlsAndTheDialog(BackendFixture& f);
void TimersPostsAndSendsArriveOnTheLoopThread(BackendFixture& f);
void MessageBoxesCarryCaptionTextAndAnswer(BackendFixture& f);
void DataExchangeOutOfRangeTellsTheUserAndFocusesTheField(BackendFixture& f);
void ModalRunHoldsTheOtherWindowsAndEndsWithItsCode(BackendFixture& f);
void TrayIconAndItsPopupMenu(BackendFixture& f);

}  // namespace ui_test

#define DIALOG_CONTRACT_TEST(Fixture, Case) \
  TEST_F(Fixture, Case) { ui_test::Case(*this); }
#define DIALOG_CONTRACT_TESTS(Fixture)                                                \
  DIALOG_CONTRACT_TEST(Fixture, ItemsFollowTheProgram)                                \
  DIALOG_CONTRACT_TEST(Fixture, InputReachesTheControlsAndTheDialog)                  \
  DIALOG_CONTRACT_TEST(Fixture, TimersPostsAndSendsArriveOnTheLoopThread)             \
  DIALOG_CONTRACT_TEST(Fixture, MessageBoxesCarryCaptionTextAndAnswer)                \
  DIALOG_CONTRACT_TEST(Fixture, DataExchangeOutOfRangeTellsTheUserAndFocusesTheField) \
  DIALOG_CONTRACT_TEST(Fixture, ModalRunHoldsTheOtherWindowsAndEndsWithItsCode)       \
  DIALOG_CONTRACT_TEST(Fixture, TrayIconAndItsPopupMenu)
