#include "shell/EffectLoop.h"

#include <utility>

namespace Shell
{
void CEffectLoop::Dispatch(const SEvent& event)
{
    if (m_quit)
    {
        return;
    }
    ++m_depth;
    for (const SEffect& effect : m_controller.Handle(event))
    {
        if (std::holds_alternative<Effect::SFocus>(effect) || std::holds_alternative<Effect::SFocusSignInForm>(effect))
        {
            m_focus = effect;
        }
        else if (std::holds_alternative<Effect::SDestroyWindow>(effect))
        {
            m_destroyAsked = true;
        }
        else
        {
            m_quit = m_quit || std::holds_alternative<Effect::SPostQuit>(effect);
            m_carrier.Carry(effect);
        }
    }
    if (--m_depth > 0)
    {
        return;
    }
    if (std::exchange(m_destroyAsked, false))
    {
        m_focus.reset();
        m_carrier.DestroyWindow(); // `this` may be gone now
        return;
    }
    if (m_quit)
    {
        return;
    }
    if (Ui::SView view = m_controller.View(); view != m_shown)
    {
        m_shown = std::move(view);
        m_carrier.ShowView(m_shown);
    }
    if (std::optional<SEffect> focus = std::exchange(m_focus, std::nullopt))
    {
        m_carrier.Focus(*focus);
    }
}
}
