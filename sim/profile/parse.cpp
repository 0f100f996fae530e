// Profile text to JSON. The parser reports every value, key and container as
// it reads them; the reader builds the document from those events and always
// knows the JSON path of the value at hand, so that a second key of the same
// name and a number that does not fit are errors at their path.
#include "sim/profile/profile.h"

#include <algorithm>
#include <set>
#include <vector>

namespace sim::profile {

namespace {

class ProfileReader final : public nlohmann::json_sax<Json> {
 public:
  ProfileReader(const std::string& text, const std::string& name) : text_(text), name_(name) {}

  Json& document() { return root_; }
  const std::string& duplicate() const { return duplicate_; }

  bool null() override { return Put(nullptr); }
  bool boolean(bool v) override { return Put(v); }
  bool number_integer(number_integer_t v) override { return Put(v); }
  bool number_unsigned(number_unsigned_t v) override { return Put(v); }
  bool number_float(number_float_t v, const string_t&) override { return Put(v); }
  bool string(string_t& v) override { return Put(std::move(v)); }
  bool binary(binary_t& v) override { return Put(Json::binary(v)); }

  bool start_object(std::size_t) override { return Open(Json::object()); }
  bool start_array(std::size_t) override { return Open(Json::array()); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }

  bool key(string_t& k) override {
    Container& c = open_.back();
    c.key = k;
    if (!c.keys.insert(k).second && duplicate_.empty()) duplicate_ = Path();
    return true;
  }

  bool parse_error(std::size_t position, const std::string& token,
                   const nlohmann::json::exception& e) override {
    if (dynamic_cast<const nlohmann::json::parse_error*>(&e))  // carries its own line and column
      throw ProfileError(name_, std::string("not valid JSON: ") + e.what());
    // The parser read a whole token that it cannot hold: a number beyond the
    // range of a double (1e501). It stands where the next value would.
    const std::string what = e.id == 406 ? "number overflow: " + token + " is out of range"
                                         : "cannot read " + token + ": " + e.what();
    throw ProfileError(Path(), what + " (" + LineAndColumn(position) + ")");
  }

 private:
  struct Container {
    Json* value;
    std::string key;  // objects: the key last read
    std::set<std::string> keys;
  };

  // The path of the value being read: the innermost container's next element
  // (or its key's value); in the containers around it, the element that holds
  // it, which they already store.
  std::string Path() const {
    std::string path = "$";
    for (size_t i = 0; i < open_.size(); ++i) {
      const Container& c = open_[i];
      if (c.value->is_object()) {
        path += "." + c.key;
      } else {
        const size_t size = c.value->size();
        path += "[" + std::to_string(i + 1 < open_.size() ? size - 1 : size) + "]";
      }
    }
    return path;
  }

  std::string LineAndColumn(std::size_t position) const {
    const size_t end = std::min(position, text_.size());
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < end; ++i)
      if (text_[i] == '\n') ++line, lineStart = i + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(end - lineStart);
  }

  // Stores `v` where the parser stands and returns where it went.
  Json* Store(Json v) {
    if (open_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    Json& c = *open_.back().value;
    if (c.is_array()) {
      c.push_back(std::move(v));
      return &c.back();
    }
    Json& slot = c[open_.back().key];  // a key twice: `duplicate_` already says so
    slot = std::move(v);
    return &slot;
  }
  bool Put(Json v) {
    Store(std::move(v));
    return true;
  }
  bool Open(Json empty) {
    // A container already stored keeps its place while it is open: its parent
    // grows only after it closes.
    open_.push_back(Container{Store(std::move(empty)), {}, {}});
    return true;
  }
  bool Close() {
    open_.pop_back();
    return true;
  }

  const std::string& text_;
  const std::string& name_;
  Json root_;
  std::vector<Container> open_;
  std::string duplicate_;
};

}  // namespace

Json Parse(const std::string& text, const std::string& name) {
  ProfileReader reader(text, name);
  // Every error throws from the reader; the parser stops early only then.
  if (!Json::sax_parse(text, &reader)) throw ProfileError(name, "not valid JSON");
  if (!reader.duplicate().empty())
    throw ProfileError(reader.duplicate(), "the key appears twice in its object");
  return std::move(reader.document());
}

}  // namespace sim::profile
