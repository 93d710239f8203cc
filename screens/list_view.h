// A one-column list as the browsing sees it: items with a text, one of them selected.
#pragma once

#include <optional>
#include <string>

namespace screens {

class ListView {
 public:
  virtual ~ListView() = default;
  // Removes every item; nothing is selected afterwards.
  virtual void clear() = 0;
  // Appends an item. The first item added to an empty list becomes the selected one; later
  // additions leave the selection alone.
  virtual void add(const std::string& text) = 0;
  virtual int count() const = 0;
  // Text of the selected item; nothing when no item is selected.
  virtual std::optional<std::string> selectedText() const = 0;
};

}  // namespace screens
