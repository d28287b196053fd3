#include "lookup/country_tables.h"

#include <algorithm>

namespace {

constexpr bool isDigits(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

constexpr bool isCountryKey(std::u16string_view text) {
  return text.size() == 2 &&
         std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'A' && c <= u'Z'; });
}

// The countries as they are usually read: grouped by calling code, in the
// order of the codes. The exported table is this one sorted by country.
constexpr std::array<CountryCallingCode, 239> kCountriesByCode{{
    // Codes beginning with 1.
    {u"AS", u"1"},
    {u"AI", u"1"},
    {u"AG", u"1"},
    {u"BS", u"1"},
    {u"BB", u"1"},
    {u"BM", u"1"},
    {u"CA", u"1"},
    {u"DM", u"1"},
    {u"DO", u"1"},
    {u"GD", u"1"},
    {u"GU", u"1"},
    {u"JM", u"1"},
    {u"MS", u"1"},
    {u"MP", u"1"},
    {u"PR", u"1"},
    {u"TT", u"1"},
    {u"TC", u"1"},
    {u"US", u"1"},
    {u"KN", u"1"},
    {u"LC", u"1"},
    {u"VC", u"1"},
    {u"VG", u"1"},
    {u"VI", u"1"},
    // Codes beginning with 2.
    {u"EG", u"20"},
    {u"MA", u"212"},
    {u"DZ", u"213"},
    {u"TN", u"216"},
    {u"LY", u"218"},
    {u"GM", u"220"},
    {u"SN", u"221"},
    {u"MR", u"222"},
    {u"ML", u"223"},
    {u"GN", u"224"},
    {u"CI", u"225"},
    {u"BF", u"226"},
    {u"NE", u"227"},
    {u"TG", u"228"},
    {u"BJ", u"229"},
    {u"MU", u"230"},
    {u"LR", u"231"},
    {u"SL", u"232"},
    {u"GH", u"233"},
    {u"NG", u"234"},
    {u"TD", u"235"},
    {u"CF", u"236"},
    {u"CM", u"237"},
    {u"CV", u"238"},
    {u"ST", u"239"},
    {u"GQ", u"240"},
    {u"GA", u"241"},
    {u"CG", u"242"},
    {u"CD", u"243"},
    {u"AO", u"244"},
    {u"GW", u"245"},
    {u"IO", u"246"},
    {u"SC", u"248"},
    {u"SD", u"249"},
    {u"RW", u"250"},
    {u"ET", u"251"},
    {u"SO", u"252"},
    {u"DJ", u"253"},
    {u"KE", u"254"},
    {u"TZ", u"255"},
    {u"UG", u"256"},
    {u"BI", u"257"},
    {u"MZ", u"258"},
    {u"ZM", u"260"},
    {u"MG", u"261"},
    {u"YT", u"262"},
    {u"RE", u"262"},
    {u"ZW", u"263"},
    {u"NA", u"264"},
    {u"MW", u"265"},
    {u"LS", u"266"},
    {u"BW", u"267"},
    {u"SZ", u"268"},
    {u"KM", u"269"},
    {u"ZA", u"27"},
    {u"SH", u"290"},
    {u"ER", u"291"},
    {u"AW", u"297"},
    {u"FO", u"298"},
    {u"GL", u"299"},
    // Codes beginning with 3.
    {u"GR", u"30"},
    {u"NL", u"31"},
    {u"BE", u"32"},
    {u"FR", u"33"},
    {u"ES", u"34"},
    {u"KY", u"345"},
    {u"GI", u"350"},
    {u"PT", u"351"},
    {u"LU", u"352"},
    {u"IE", u"353"},
    {u"IS", u"354"},
    {u"AL", u"355"},
    {u"MT", u"356"},
    {u"CY", u"357"},
    {u"FI", u"358"},
    {u"BG", u"359"},
    {u"HU", u"36"},
    {u"LT", u"370"},
    {u"LV", u"371"},
    {u"EE", u"372"},
    {u"MD", u"373"},
    {u"AM", u"374"},
    {u"BY", u"375"},
    {u"AD", u"376"},
    {u"MC", u"377"},
    {u"SM", u"378"},
    {u"VA", u"379"},
    {u"UA", u"380"},
    {u"RS", u"381"},
    {u"ME", u"382"},
    {u"HR", u"385"},
    {u"SI", u"386"},
    {u"BA", u"387"},
    {u"MK", u"389"},
    {u"IT", u"39"},
    // Codes beginning with 4.
    {u"RO", u"40"},
    {u"CH", u"41"},
    {u"CZ", u"420"},
    {u"SK", u"421"},
    {u"LI", u"423"},
    {u"AT", u"43"},
    {u"GB", u"44"},
    {u"GG", u"44"},
    {u"IM", u"44"},
    {u"JE", u"44"},
    {u"DK", u"45"},
    {u"SE", u"46"},
    {u"NO", u"47"},
    {u"SJ", u"47"},
    {u"PL", u"48"},
    {u"DE", u"49"},
    // Codes beginning with 5.
    {u"GS", u"500"},
    {u"FK", u"500"},
    {u"BZ", u"501"},
    {u"GT", u"502"},
    {u"SV", u"503"},
    {u"HN", u"504"},
    {u"NI", u"505"},
    {u"CR", u"506"},
    {u"PA", u"507"},
    {u"PM", u"508"},
    {u"HT", u"509"},
    {u"PE", u"51"},
    {u"MX", u"52"},
    {u"CU", u"53"},
    {u"AR", u"54"},
    {u"BR", u"55"},
    {u"CL", u"56"},
    {u"CO", u"57"},
    {u"VE", u"58"},
    {u"GP", u"590"},
    {u"BL", u"590"},
    {u"MF", u"590"},
    {u"BO", u"591"},
    {u"EC", u"593"},
    {u"GF", u"594"},
    {u"GY", u"595"},
    {u"PY", u"595"},
    {u"MQ", u"596"},
    {u"SR", u"597"},
    {u"UY", u"598"},
    {u"AN", u"599"},
    // Codes beginning with 6.
    {u"MY", u"60"},
    {u"AU", u"61"},
    {u"CX", u"61"},
    {u"CC", u"61"},
    {u"ID", u"62"},
    {u"PH", u"63"},
    {u"NZ", u"64"},
    {u"SG", u"65"},
    {u"TH", u"66"},
    {u"TL", u"670"},
    {u"NF", u"672"},
    {u"BN", u"673"},
    {u"NR", u"674"},
    {u"PG", u"675"},
    {u"TO", u"676"},
    {u"SB", u"677"},
    {u"VU", u"678"},
    {u"FJ", u"679"},
    {u"PW", u"680"},
    {u"WF", u"681"},
    {u"CK", u"682"},
    {u"NU", u"683"},
    {u"WS", u"685"},
    {u"KI", u"686"},
    {u"NC", u"687"},
    {u"TV", u"688"},
    {u"PF", u"689"},
    {u"TK", u"690"},
    {u"FM", u"691"},
    {u"MH", u"692"},
    // Codes beginning with 7.
    {u"RU", u"7"},
    {u"KZ", u"77"},
    // Codes beginning with 8.
    {u"JP", u"81"},
    {u"KR", u"82"},
    {u"VN", u"84"},
    {u"KP", u"850"},
    {u"HK", u"852"},
    {u"MO", u"853"},
    {u"KH", u"855"},
    {u"LA", u"856"},
    {u"CN", u"86"},
    {u"PN", u"872"},
    {u"BD", u"880"},
    {u"TW", u"886"},
    // Codes beginning with 9.
    {u"TR", u"90"},
    {u"IN", u"91"},
    {u"PK", u"92"},
    {u"AF", u"93"},
    {u"LK", u"94"},
    {u"MM", u"95"},
    {u"MV", u"960"},
    {u"LB", u"961"},
    {u"JO", u"962"},
    {u"SY", u"963"},
    {u"IQ", u"964"},
    {u"KW", u"965"},
    {u"SA", u"966"},
    {u"YE", u"967"},
    {u"OM", u"968"},
    {u"PS", u"970"},
    {u"AE", u"971"},
    {u"IL", u"972"},
    {u"BH", u"973"},
    {u"QA", u"974"},
    {u"BT", u"975"},
    {u"MN", u"976"},
    {u"NP", u"977"},
    {u"IR", u"98"},
    {u"TJ", u"992"},
    {u"TM", u"993"},
    {u"AZ", u"994"},
    {u"GE", u"995"},
    {u"KG", u"996"},
    {u"UZ", u"998"},
}};

constexpr std::array<CountryCallingCode, 239> sortedByCountry(
    std::array<CountryCallingCode, 239> countries) {
  std::sort(countries.begin(), countries.end(),
            [](const CountryCallingCode& a, const CountryCallingCode& b) {
              return a.country < b.country;
            });
  return countries;
}

}  // namespace

constexpr std::array<std::u16string_view, 113> callingCodeTrunkList{
    u"1|1",   u"20|0",   u"212|0", u"213|0", u"216|",  u"218|0", u"220|",  u"221|",  u"222|",
    u"224|",  u"225|",   u"226|",  u"228|",  u"229|",  u"230|",  u"232|0", u"233|0", u"234|0",
    u"237|",  u"238|",   u"239|",  u"241|",  u"242|",  u"243|0", u"244|",  u"245|",  u"247|",
    u"249|0", u"251|0",  u"252|",  u"254|0", u"256|0", u"257|",  u"258|",  u"260|0", u"261|0",
    u"263|0", u"264|0",  u"266|",  u"267|",  u"268|",  u"269|",  u"27|0",  u"290|",  u"299|",
    u"30|",   u"31|0",   u"32|0",  u"33|0",  u"34|",   u"351|",  u"352|",  u"353|0", u"354|",
    u"355|0", u"357|",   u"358|0", u"359|0", u"36|6",  u"370|8", u"371|",  u"372|",  u"373|0",
    u"374|0", u"375|80", u"381|0", u"385|0", u"389|0", u"39|",   u"40|0",  u"41|0",  u"420|",
    u"421|0", u"43|0",   u"44|0",  u"46|0",  u"47|",   u"48|",   u"49|0",  u"51|0",  u"53|0",
    u"54|0",  u"55|0",   u"56|0",  u"57|0",  u"58|0",  u"507|0", u"591|0", u"599|0", u"61|0",
    u"62|0",  u"64|0",   u"66|0",  u"686|",  u"7|8",   u"81|0",  u"82|0",  u"84|0",  u"86|0",
    u"886|0", u"90|0",   u"91|0",  u"92|0",  u"93|0",  u"94|0",  u"961|0", u"962|0", u"965|",
    u"966|0", u"972|0",  u"98|0",  u"993|8", u"996|0",
};

constexpr std::array<CountryCallingCode, 239> callingCodeByCountry =
    sortedByCountry(kCountriesByCode);

namespace {

// The matching of numbers relies on these properties of the list: every entry
// is digits, "|", digits; and since no code begins another, at most one code
// can be found at the start of a number.
constexpr bool listIsWellFormed() {
  for (std::u16string_view entry : callingCodeTrunkList) {
    const std::u16string_view code = callingCodeOfEntry(entry);
    if (code.empty() || code.size() == entry.size() || !isDigits(code) ||
        !isDigits(trunkPrefixOfEntry(entry))) {
      return false;
    }
  }
  return true;
}

// Sorted, a code that begins another sorts right before it or before codes
// that also begin with it, so comparing neighbours is enough.
constexpr bool listIsPrefixFree() {
  std::array<std::u16string_view, callingCodeTrunkList.size()> codes{};
  std::transform(callingCodeTrunkList.begin(), callingCodeTrunkList.end(), codes.begin(),
                 [](std::u16string_view entry) { return callingCodeOfEntry(entry); });
  std::sort(codes.begin(), codes.end());
  for (std::size_t i = 1; i < codes.size(); ++i) {
    if (codes[i].starts_with(codes[i - 1])) return false;
  }
  return true;
}

// The search by halves needs strictly ascending keys, which also means each
// country appears once.
constexpr bool countriesAreWellFormed() {
  for (std::size_t i = 0; i < callingCodeByCountry.size(); ++i) {
    const CountryCallingCode& entry = callingCodeByCountry[i];
    if (!isCountryKey(entry.country) || entry.callingCode.empty() || !isDigits(entry.callingCode)) {
      return false;
    }
    if (i > 0 && !(callingCodeByCountry[i - 1].country < entry.country)) return false;
  }
  return true;
}

static_assert(listIsWellFormed());
static_assert(listIsPrefixFree());
static_assert(countriesAreWellFormed());

}  // namespace

std::u16string_view trunkPrefixByCallingCode(
    std::optional<std::u16string_view> callingCode) noexcept {
  std::u16string_view trunkPrefix;
  if (!callingCode) return trunkPrefix;
  for (std::u16string_view entry : callingCodeTrunkList) {
    if (callingCodeOfEntry(entry) == *callingCode) trunkPrefix = trunkPrefixOfEntry(entry);
  }
  return trunkPrefix;
}

std::optional<std::u16string_view> callingCodeForCountry(
    std::optional<std::u16string_view> country) noexcept {
  if (!country) return std::nullopt;
  const auto found = std::lower_bound(
      callingCodeByCountry.begin(), callingCodeByCountry.end(), *country,
      [](const CountryCallingCode& entry, std::u16string_view key) { return entry.country < key; });
  if (found == callingCodeByCountry.end() || found->country != *country) return std::nullopt;
  return found->callingCode;
}

std::optional<std::u16string_view> longestCountryCallingCodeAt(
    std::u16string_view digits) noexcept {
  std::optional<std::u16string_view> longest;
  for (const CountryCallingCode& entry : callingCodeByCountry) {
    if (digits.starts_with(entry.callingCode) &&
        (!longest || entry.callingCode.size() > longest->size())) {
      longest = entry.callingCode;
    }
  }
  return longest;
}
