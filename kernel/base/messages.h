#pragma once

// The kernel's message catalogue.
//
// Every user-visible text of the kernel has a key (GIS_RS_...) and one
// current text, filled with the English default at start-up and replaceable
// at run time by LocalizeMessages with a handler.  Error templates start with
// a four-digit number and a blank and carry at most a %s (the name) and a %d
// (the value), in that order.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cadport {

// The keys, in catalogue order.  Plain enumerators, so that a key reads as
// its catalogue name: EGIS_Exception(GIS_RS_ERR_FILEWRITE, path, code).
enum TGIS_MessageKey : std::uint16_t {
#define GIS_RS_MESSAGE(key, text) key,
#include "kernel/base/message_catalogue.inc"
#undef GIS_RS_MESSAGE
  kMessageKeyCount
};

// The current text of a key (the default until a handler replaced it).
// The reference stays valid until the next LocalizeMessages call.
const std::string& MessageText(TGIS_MessageKey key) noexcept;

// The key's name as a localisation handler sees it, e.g. "GIS_RS_BTN_OK".
std::string_view MessageKeyName(TGIS_MessageKey key) noexcept;

// The English default text of a key.
std::string_view MessageDefaultText(TGIS_MessageKey key) noexcept;

// Looks a key up by its name; false when there is no such key.
bool FindMessageKey(std::string_view name, TGIS_MessageKey& key) noexcept;

// A localisation handler: called once per entry, in catalogue order, with the
// entry's current text (replace it through the reference) and its key name.
using TGIS_LocalizeHandler = std::function<void(std::string& text, std::string_view key)>;

// Without a handler (or with an empty one): every entry gets its default
// text back.  With one: the handler visits every entry; whatever it raises
// propagates, and entries already visited keep their new texts.  In both
// cases the notifier's entries then run, in the order they were added.
void LocalizeMessages();
void LocalizeMessages(const TGIS_LocalizeHandler& handler);

// The localisation notifier: handlers called after every LocalizeMessages,
// so that texts derived from the catalogue can be rebuilt.
class TGIS_LocalizedNotifcation {
 public:
  using Handler = std::function<void()>;
  using EntryId = std::uint32_t;

  // Appends a handler; the id removes it again.
  EntryId Add(Handler handler);
  // Removes an entry; an unknown id is ignored.
  void Remove(EntryId id) noexcept;
  std::size_t Count() const noexcept;
  // Runs every entry in the order added.
  void Notify() const;

 private:
  struct Entry {
    EntryId id;
    Handler handler;
  };
  std::vector<Entry> entries_;
  EntryId nextId_ = 1;
};

// The process-wide notifier.
TGIS_LocalizedNotifcation& LocalizedNotification() noexcept;

// Formats a message template with the argument list [name, value]:
// %s takes the name, %d (decimal) and %x (hexadecimal) take the value, in
// that order; '-' (left-justify), a width and a precision may come between
// '%' and the letter; %% is a percent sign.  A template using fewer
// placeholders ignores the rest.  Anything else -- an unknown letter, a
// placeholder of the wrong type for its argument, more placeholders than
// arguments, a lone '%' at the end -- fails: the result is false and out
// holds the template unchanged.  Never throws (short of memory).
bool FormatMessageTemplate(std::string_view templ, std::string_view name, std::int32_t value,
                           std::string& out);

}  // namespace cadport
