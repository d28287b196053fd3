// The preference store's files are property lists: the codec of every product
// program.
#include "host/foundation/plist_codec.h"
#include "host/foundation/preference_codec.h"

namespace host {
namespace {

class PlistPreferenceCodec final : public PreferenceCodec {
 public:
  size_t maxBytes() const override { return plist::kMaxBytes; }
  std::string encode(const NSDictionary::Entries& entries) const override {
    return plist::encodeXml(entries);
  }
  std::optional<NSDictionary::Entries> decode(std::string_view bytes,
                                              DecodeProblem* problem) const override {
    return plist::decode(bytes, problem);
  }
  id storedForm(const id& value) const override { return plist::storedForm(value); }
};

}  // namespace

const PreferenceCodec& preferenceCodec() {
  static const PlistPreferenceCodec codec;
  return codec;
}

}  // namespace host
