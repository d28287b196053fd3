#include "host/foundation/preference_codec.h"

namespace host {

std::string_view describe(DecodeProblem problem) {
  switch (problem) {
    case DecodeProblem::none:
      return "";
    case DecodeProblem::tooLarge:
      return "too large";
    case DecodeProblem::tooDeep:
      return "nested too deeply";
    case DecodeProblem::notPropertyList:
      return "not a property list";
    case DecodeProblem::notDictionary:
      return "not a dictionary at its root";
  }
  return "";
}

}  // namespace host
