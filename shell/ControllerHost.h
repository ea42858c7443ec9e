// The controller at work in the launcher window: the messages that the window's mechanics
// leave become the controller's events, each worker message decoded once (its heap payload
// is owned and freed here), and the controller's effects are carried out with the engines
// (the identity worker, the patcher, the game launch) and the window.
#pragma once

#ifdef _WIN32
#include "auth/Identity.h"
#include "game/Launch.h"
#include "patch/Run.h"
#include "shell/Controller.h"
#include "ui/MainWindow.h"

#include <windows.h>

#include <string>

namespace Shell
{
class CControllerHost
{
public:
    // `view` is the window's mechanics; both outlive this host.
    CControllerHost(HWND window, Ui::MainWindow& view);
    ~CControllerHost(); // stops every worker that still runs
    CControllerHost(const CControllerHost&) = delete;
    CControllerHost& operator=(const CControllerHost&) = delete;

    // WM_CREATE, once the controls exist: starts the identity worker and the first runs.
    void Create(std::string recoveryMessage);

    // A message the window's mechanics did not take. true: handled, with `result` its answer.
    [[nodiscard]] bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    [[nodiscard]] bool SignedIn() const noexcept { return m_controller.State().signedIn; }

private:
    void Dispatch(const SEvent& event);
    void Carry(const SEffect& effect);
    [[nodiscard]] Event::SBoxes Boxes() const;
    [[nodiscard]] std::uint16_t FocusedControl() const;

    HWND m_window;
    Ui::MainWindow& m_view;
    CController m_controller;
    Auth::Identity m_identity;
    Patch::CPatcher m_patcher;
    Game::GameLaunch m_game;
    int m_depth = 0;         // Dispatch calls in progress (answers nest)
    bool m_viewDirty = false; // the view is shown again once the outermost Dispatch ends
};
}
#endif
