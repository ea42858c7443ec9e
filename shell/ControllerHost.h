// The controller at work in the launcher window: the messages that the window's mechanics
// leave become the controller's events, and the controller's effects are carried out with the
// engines (the identity worker, the patcher, the game launch) and the window, in the order
// that shell/EffectLoop.h sets.
//
// The engines report on their own threads. Each report becomes the controller's event there
// and waits in the host's mailbox (shell/Mailbox.h); the posted message only announces it, so
// that a message another process posts can neither free memory nor fake a worker's report.
#pragma once

#ifdef _WIN32
#include "auth/Identity.h"
#include "game/Launch.h"
#include "patch/Run.h"
#include "shell/EffectLoop.h"
#include "shell/Mailbox.h"
#include "ui/MainWindow.h"

#include <windows.h>

#include <string>

namespace Shell
{
class CControllerHost final : private CEffectLoop::ICarrier
{
public:
    // `view` is the window's mechanics, already created; it outlives this host. `launcherPath`
    // is the launcher's exe, which the self-update replaces.
    CControllerHost(HWND window, Ui::CMainWindow& view, std::string launcherPath);
    ~CControllerHost(); // stops every worker that still runs
    CControllerHost(const CControllerHost&) = delete;
    CControllerHost& operator=(const CControllerHost&) = delete;

    // WM_CREATE, once the controls exist: starts the identity worker and the first runs.
    void Create(std::string recoveryMessage);

    // A message the window's mechanics did not take. true: handled, with `result` its answer.
    // The host may be gone when it returns (the window was destroyed).
    [[nodiscard]] bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    void Carry(const SEffect& effect) override;
    void ShowView(const Ui::SView& view) override;
    void Focus(const SEffect& focus) override;
    void DestroyWindow() override;

    // Any thread: the event waits in the mailbox, announced by `message`; freed when the post fails.
    void PostOwned(unsigned message, SEvent event);
    [[nodiscard]] bool TakeLetter(UINT message, WPARAM sequence);
    [[nodiscard]] bool HandleCommand(WORD id, WORD code);
    void StartPatch(const Effect::SStartPatch& start);
    [[nodiscard]] Event::SBoxes Boxes() const;
    [[nodiscard]] std::uint16_t FocusedControl() const;

    HWND m_window;
    Ui::CMainWindow& m_view;
    CMailbox<SEvent> m_mailbox; // before the engines: they post into it until they are stopped
    CEffectLoop m_loop;
    Auth::CIdentity m_identity;
    Patch::CPatcher m_patcher;
    Game::CGameLaunch m_game;
};
}
#endif
