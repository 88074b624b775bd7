#pragma once
// The base of every page class T: a modeless child dialog made from T's
// template (T::kTemplate) that resizes its controls by T's rules
// (T::kResizeRules), and the FormBase operations that every page shares.
//
// A page's own message handlers come first: T overrides processMessage and
// passes what it does not handle to FormBaseImpl::processMessage, which
// handles dialog initialisation (resizer, client edge, onInitForm), timers
// (onFormTimer) and size (onFormSize, then the resizer).
//
// `Interface` is FormBase or an interface derived from it, for programs whose
// pages offer more operations.

#include "forms/form_base.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/messages.h"

template <class T, class Interface = FormBase>
class FormBaseImpl : public platform::ui::Dialog, public Interface {
 public:
  FormBaseImpl() : platform::ui::Dialog(T::kTemplate) {}
  // A page class with more than one layout names the one to use.
  explicit FormBaseImpl(const platform::ui::DialogTemplate& dialogTemplate) : platform::ui::Dialog(dialogTemplate) {}

  platform::ui::WindowHandle getFormWindow() override { return handle(); }

  void showForm() override {
    this->updateForm();
    platform::ui::showWindow(handle(), platform::ui::SW_SHOW);
  }

  void hideForm() override { platform::ui::showWindow(handle(), platform::ui::SW_HIDE); }

  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override {
    using namespace platform::ui;
    switch (message) {
      case WM_INITDIALOG: {
        resizer_.initialise(*this, T::kResizeRules);
        addClientEdge();
        bool handled = true;
        result = this->onInitForm(message, wParam, lParam, handled);
        return true;
      }
      case WM_TIMER:
        this->onFormTimer(wParam);
        result = 0;
        return true;
      case WM_SIZE:
        this->onFormSize();
        resizer_.resize(*this);
        result = 0;
        return true;
      default:
        return false;
    }
  }

 private:
  platform::ui::DialogResizer resizer_;
};
