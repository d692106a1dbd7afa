// tslpkg: builds, inspects and verifies firmware packages, and makes
// synthetic image bytes for sample and test packages.
// Exit status: 0 success, 1 the package fails a check, 2 bad input.
#include <charconv>
#include <initializer_list>
#include <iostream>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "package/embedded_package.h"
#include "package/package_layout.h"
#include "tools/file_io.h"
#include "tools/package_builder.h"
#include "tools/package_report.h"

namespace tslflash {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitMismatch = 1;
constexpr int kExitBadInput = 2;
constexpr std::uint64_t kMaxSynthSize = 16 * 1024 * 1024;

constexpr std::string_view kUsage = R"(usage:
  tslpkg build -o OUT --image FILE --inquiry-id TEXT [--tag KOVA] [--protocol 0-4]
               [--alt-name TEXT | --alt-name-nul TEXT] [--variant-mark TEXT]
               [--revision-pattern TEXT] [--second-image FILE --ext-revision TEXT]
               [--deflate]
  tslpkg inspect FILE | --embedded
  tslpkg verify FILE | --embedded
  tslpkg synth --size N --seed S -o OUT

build      Writes a package with every checksum computed. Texts shorter than their
           field are space padded; --alt-name-nul pads the alternate product name
           with NULs instead, as for the maker's model codes. --second-image makes
           the extended layout (first image at 78, 40 unread bytes, second image).
           --deflate stores each image compressed for protocol 2: its inflated
           length (4 bytes), the zlib stream and zeros up to the fewest whole
           16 KiB pages whose input window (pages * 16384 - 132) holds the stream;
           the image must be whole 16 KiB pages and compress below 128 pages.
inspect    Prints every field, the range rule of each form, and each checksum
           expected against computed. Exit 0 only when every check matches.
verify     The same checks, exit status only.
synth      Deterministic, partly compressible image bytes.
exit status: 0 success, 1 a check does not match, 2 bad input (one line on stderr)
)";

int BadInput(std::string_view message) {
  std::cerr << "tslpkg: " << message << '\n';
  return kExitBadInput;
}

struct KnownOption {
  std::string_view name;
  bool takesValue;
};

struct [[nodiscard]] ParsedOptions {
  std::map<std::string, std::string, std::less<>> values;  // a flag maps to ""
  std::vector<std::string_view> positional;
  std::string error;

  bool Has(std::string_view name) const { return values.contains(name); }
  std::string Get(std::string_view name, std::string fallback = {}) const {
    const auto found = values.find(name);
    return found == values.end() ? fallback : found->second;
  }
};

const KnownOption* FindOption(std::span<const KnownOption> known, std::string_view name) {
  for (const KnownOption& option : known) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

ParsedOptions ParseOptions(std::span<const std::string_view> args,
                           std::span<const KnownOption> known) {
  ParsedOptions parsed;
  for (std::size_t i = 0; i < args.size() && parsed.error.empty(); ++i) {
    const std::string_view arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      parsed.positional.push_back(arg);
      continue;
    }
    const KnownOption* option = FindOption(known, arg);
    if (option == nullptr) {
      parsed.error = "unknown option " + std::string(arg);
    } else if (parsed.Has(arg)) {
      parsed.error = std::string(arg) + " is given twice";
    } else if (option->takesValue && i + 1 == args.size()) {
      parsed.error = std::string(arg) + " needs a value";
    } else {
      parsed.values[std::string(arg)] = option->takesValue ? std::string(args[++i]) : "";
    }
  }
  return parsed;
}

// First missing option of the list, or an unexpected argument.
std::optional<std::string> MissingOrExtra(const ParsedOptions& parsed,
                                          std::initializer_list<std::string_view> required) {
  for (std::string_view name : required) {
    if (!parsed.Has(name)) return std::string(name) + " is required";
  }
  if (!parsed.positional.empty()) {
    return "unexpected argument " + std::string(parsed.positional.front());
  }
  return std::nullopt;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// --- build ---

constexpr KnownOption kBuildOptions[] = {
    {"-o", true},
    {"--image", true},
    {"--tag", true},
    {"--protocol", true},
    {"--inquiry-id", true},
    {"--alt-name", true},
    {"--alt-name-nul", true},
    {"--variant-mark", true},
    {"--revision-pattern", true},
    {"--second-image", true},
    {"--ext-revision", true},
    {"--deflate", false},
};

std::string ReadProtocol(const ParsedOptions& options, PackageRecipe& recipe) {
  if (!options.Has("--protocol")) {
    recipe.protocolDigit = recipe.deflate ? '2' : '0';
    return {};
  }
  const std::string digit = options.Get("--protocol");
  if (digit.size() != 1 || digit[0] < '0' || digit[0] > '4') {
    return "--protocol takes one digit 0-4, not \"" + digit + "\"";
  }
  recipe.protocolDigit = digit[0];
  return {};
}

std::string ReadTexts(const ParsedOptions& options, PackageRecipe& recipe) {
  if (options.Has("--alt-name") && options.Has("--alt-name-nul")) {
    return "--alt-name and --alt-name-nul exclude each other";
  }
  recipe.tag = options.Get("--tag", recipe.tag);
  recipe.inquiryId = options.Get("--inquiry-id");
  recipe.altProductNameNulPadded = options.Has("--alt-name-nul");
  recipe.altProductName =
      options.Get(recipe.altProductNameNulPadded ? "--alt-name-nul" : "--alt-name");
  recipe.variantMark = options.Get("--variant-mark");
  recipe.revisionPattern = options.Get("--revision-pattern");
  return {};
}

// An image fills at most its 2 MiB area.
constexpr SizeBound kImageBound{kImageAreaSize, "an image"};

std::string ReadImages(const ParsedOptions& options, PackageRecipe& recipe) {
  FileRead image = ReadBinaryFile(options.Get("--image"), kImageBound);
  if (!image.error.empty()) return image.error;
  recipe.image = std::move(image.bytes);
  if (options.Has("--second-image") != options.Has("--ext-revision")) {
    return "--second-image and --ext-revision go together";
  }
  if (!options.Has("--second-image")) return {};
  FileRead second = ReadBinaryFile(options.Get("--second-image"), kImageBound);
  if (!second.error.empty()) return second.error;
  recipe.second = SecondImageRecipe{std::move(second.bytes), options.Get("--ext-revision")};
  return {};
}

int Build(std::span<const std::string_view> args) {
  const ParsedOptions options = ParseOptions(args, kBuildOptions);
  if (!options.error.empty()) return BadInput(options.error);
  if (auto problem = MissingOrExtra(options, {"-o", "--image", "--inquiry-id"})) {
    return BadInput(*problem);
  }
  PackageRecipe recipe;
  recipe.deflate = options.Has("--deflate");
  for (auto read : {ReadProtocol, ReadTexts, ReadImages}) {
    if (const std::string error = read(options, recipe); !error.empty()) return BadInput(error);
  }
  const BuildResult built = BuildPackage(recipe);
  if (!built.Ok()) return BadInput(built.error);
  const std::string out = options.Get("-o");
  if (const std::string error = WriteFileAtomically(out, built.package); !error.empty()) {
    return BadInput(error);
  }
  std::cout << "wrote " << out << " (" << built.package.size() << " bytes)\n";
  return kExitOk;
}

// --- inspect, verify ---

constexpr KnownOption kPackageOptions[] = {{"--embedded", false}};

struct [[nodiscard]] LoadedPackage {
  std::string name;
  std::vector<std::uint8_t> owned;  // the file's bytes; empty for the embedded package
  std::span<const std::uint8_t> bytes;
  std::string error;
};

LoadedPackage LoadFrom(const ParsedOptions& options) {
  LoadedPackage loaded;
  if (options.Has("--embedded") == !options.positional.empty() || options.positional.size() > 1) {
    loaded.error = "name one package: FILE or --embedded";
  } else if (options.Has("--embedded")) {
    loaded.name = "embedded package";
    loaded.bytes = EmbeddedPackage();
    // The build embeds whatever file it is given, so its size is checked too.
    loaded.error = loaded.bytes.empty() ? "this tslpkg was built without a package inside"
                                        : PackageSizeProblem(loaded.name, loaded.bytes.size());
  } else {
    loaded.name = std::string(options.positional.front());
    FileRead file = ReadPackageFile(loaded.name);
    loaded.error = std::move(file.error);
    loaded.owned = std::move(file.bytes);
    loaded.bytes = loaded.owned;
  }
  return loaded;
}

int Inspect(std::span<const std::string_view> args, bool verbose) {
  const ParsedOptions options = ParseOptions(args, kPackageOptions);
  if (!options.error.empty()) return BadInput(options.error);
  const LoadedPackage package = LoadFrom(options);
  if (!package.error.empty()) return BadInput(package.error);

  std::ostream silent(nullptr);
  std::ostream& report = verbose ? std::cout : silent;
  report << "package: " << package.name << " (" << package.bytes.size() << " bytes)\n";
  const Inspection inspection = InspectPackage(package.bytes, report);
  if (inspection.Passed()) return kExitOk;
  if (verbose) {
    std::cerr << "tslpkg: " << package.name << " DOES NOT MATCH: " << JoinedFailures(inspection)
              << '\n';
  }
  return kExitMismatch;
}

// --- synth ---

constexpr KnownOption kSynthOptions[] = {{"--size", true}, {"--seed", true}, {"-o", true}};

int Synth(std::span<const std::string_view> args) {
  const ParsedOptions options = ParseOptions(args, kSynthOptions);
  if (!options.error.empty()) return BadInput(options.error);
  if (auto problem = MissingOrExtra(options, {"--size", "--seed", "-o"})) {
    return BadInput(*problem);
  }
  const auto size = ParseNumber(options.Get("--size"));
  if (!size || *size == 0 || *size > kMaxSynthSize) {
    return BadInput("--size takes a number of bytes from 1 to " + std::to_string(kMaxSynthSize));
  }
  const auto seed = ParseNumber(options.Get("--seed"));
  if (!seed) return BadInput("--seed takes an unsigned number");
  const std::vector<std::uint8_t> image = SynthesizeImage(static_cast<std::size_t>(*size), *seed);
  if (const std::string error = WriteFileAtomically(options.Get("-o"), image); !error.empty()) {
    return BadInput(error);
  }
  return kExitOk;
}

int Run(std::span<const std::string_view> args) {
  if (args.empty()) return BadInput("no command; tslpkg --help lists them");
  const std::string_view command = args.front();
  const auto rest = args.subspan(1);
  if (command == "build") return Build(rest);
  if (command == "inspect") return Inspect(rest, true);
  if (command == "verify") return Inspect(rest, false);
  if (command == "synth") return Synth(rest);
  if (command == "--help" || command == "help") {
    std::cout << kUsage;
    return kExitOk;
  }
  return BadInput("unknown command " + std::string(command) + "; tslpkg --help lists them");
}

}  // namespace
}  // namespace tslflash

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  return tslflash::Run(args);
}
