#pragma once
// The tree page: the navigation tree (control 1002) whose items carry the
// pages they lead to. Its selection changes go to the frame as WM_NOTIFY
// TVN_SELCHANGED from control 1002.

#include <map>
#include <span>
#include <string_view>

#include "forms/form_base_impl.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/image_list.h"

class FormSelection : public FormBaseImpl<FormSelection> {
 public:
  static const platform::ui::DialogTemplate kTemplate;
  static const std::span<const platform::ui::ResizeRule> kResizeRules;
  static constexpr int kTreeId = 1002;

  // `images` is the program's image list; it must outlive the page.
  explicit FormSelection(const platform::ui::ImageList& images);

  // Appends an item for `page` under the parent page's item (the root when
  // the parent is null or has no item), expands that parent and redraws.
  void addForm(std::u16string_view text, FormBase* page, FormBase* parent, int image);
  // Deletes the page's item, if it has one.
  void removeForm(FormBase* page);
  FormBase* getSelectedForm();
  // Selects the first top-level item and gives the tree the keyboard focus.
  void selectFirstForm();
  bool hasForm(FormBase* page) const { return items_.count(page) != 0; }
  // Unfolds or folds the page's item, if it has one.
  void expandForm(FormBase* page, bool expanded);

  platform::ui::TreeView* tree() const { return tree_; }

  platform::ui::LResult onInitForm(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                                   bool& handled) override;
  void updateForm() override {}
  bool processMessage(uint32_t message, platform::ui::WParam wParam, platform::ui::LParam lParam,
                      platform::ui::LResult& result) override;

 private:
  const platform::ui::ImageList& images_;
  platform::ui::TreeView* tree_ = nullptr;
  std::map<FormBase*, platform::ui::TreeItem> items_;
};
