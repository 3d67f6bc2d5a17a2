// A small window for the framework's tests: records what its handlers were given.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/dialog.h"

namespace ui_test {

// Controls: buttons 10 (default) and 11, check box 20, radio groups 30-32 and 40-41, edits 50
// (digits only) and 51, combo 60, up-down 70 beside 50, progress bar 80, a label 90, and a button
// 99 far to the right (outside the client area once the window is halved).
ui::DialogTemplate TestTemplate();

class TestDialog : public ui::Dialog {
 public:
  TestDialog() : Dialog(TestTemplate()) {}
  explicit TestDialog(ui::DialogTemplate t) : Dialog(std::move(t)) {}

  std::vector<int> commands;
  std::vector<int> timers;
  std::vector<std::pair<int, int>> tray;
  std::vector<int> devices;
  std::vector<int> powers;
  std::vector<intptr_t> messages;
  std::vector<std::thread::id> message_threads;
  std::vector<std::pair<int, int>> steps;
  std::vector<std::pair<int, int>> double_clicks;
  int inits = 0;
  int destroys = 0;
  int cancels = 0;

  // Fields bound by DoDataExchange.
  int mode = 0;
  int other = 0;
  int flag = 0;
  int usb = 600;
  int cat1 = 600;
  std::string name;

  std::function<void(int)> on_timer;  // extra work in OnTimer
  int arm_timer = 0;  // a timer (20 ms) set while the window initialises, as a modal run starts

 protected:
  bool OnInitDialog() override {
    ++inits;
    if (arm_timer) SetTimer(arm_timer, 20);
    return Dialog::OnInitDialog();
  }
  void OnCommand(int id) override { commands.push_back(id); }
  void OnCancel() override {
    ++cancels;
    Dialog::OnCancel();
  }
  void OnTimer(int id) override {
    timers.push_back(id);
    if (on_timer) on_timer(id);
  }
  void OnDeviceChange(int event) override { devices.push_back(event); }
  int OnPowerBroadcast(int event) override {
    powers.push_back(event);
    return 1;
  }
  void OnTrayNotify(int icon, int mouse) override { tray.emplace_back(icon, mouse); }
  int OnUpDownStep(int id, int delta) override {
    steps.emplace_back(id, delta);
    return 0;
  }
  intptr_t OnAppMessage(int msg, intptr_t w, intptr_t l) override {
    messages.push_back(l);
    message_threads.push_back(std::this_thread::get_id());
    return msg + w;
  }
  void OnLeftDoubleClick(int x, int y) override { double_clicks.emplace_back(x, y); }
  void OnDestroy() override { ++destroys; }
  void DoDataExchange(ui::DataExchange& dx) override {
    dx.Radio(30, mode);
    dx.Radio(40, other);
    dx.Check(20, flag);
    dx.IntRange(50, usb, 60, 600);
    dx.IntRange(51, cat1, 60, 600);
    dx.Text(90, name);
  }
};

}  // namespace ui_test
