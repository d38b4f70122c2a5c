// The cost of a package's file table against its member count: opening a package whose
// table holds N members and looking every member up by name (what the package tool's
// extraction and the installer's per-file lookups do). Both columns should grow in
// proportion to N; a lookup that scans the table would make the second grow with N².
//
//   bench_package_table [largest N, default 400000]   time open and N lookups, N doubling
//   bench_package_table wide OUT N                    write a package of N empty-named,
//                                                     empty members (a small file whose
//                                                     table decodes to 18 bytes per entry)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "library/Streams.h"
#include "package/SetupPackage.h"

using namespace zel;
using namespace kivo;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::vector<uint8_t> Build(int count, bool emptyNames) {
  TSetupPackageBuilder builder(kSetupPackageKey);
  TMemoryStream none;
  for (int i = 0; i < count; ++i) {
    none.SetPosition(0);
    builder.AddFile(
        none, emptyNames ? String() : Ascii("Folder" + std::to_string(i % 97) + "\\File" + std::to_string(i) + ".dat"));
  }
  TMemoryStream out;
  builder.Commit(out, 0);
  return out.Bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "wide") {
    const std::vector<uint8_t> package = Build(std::atoi(argv[3]), true);
    TFileStream file(FromUtf8(argv[2]), FileMode::Create);
    file.WriteBuffer(package.data(), package.size());
    std::printf("%s: %zu bytes\n", argv[2], package.size());
    return 0;
  }
  const int largest = argc > 1 ? std::atoi(argv[1]) : 400000;
  std::printf("%10s %12s %12s %14s\n", "members", "open s", "lookups s", "lookup us/each");
  for (int count = 25000; count <= largest; count *= 2) {
    const std::vector<uint8_t> package = Build(count, false);
    const Clock::time_point opened = Clock::now();
    TReadOnlyMemoryStream source(package.data(), package.size());
    TSetupPackageReader reader(source);
    const double openTime = Seconds(opened);
    const Clock::time_point looked = Clock::now();
    const auto& table = reader.FileTable();
    int found = 0;
    for (int i = 0; i < table.Count(); ++i) found += table.Find(UpperCase(table.Items(i).Name)) == &table.Items(i);
    const double lookupTime = Seconds(looked);
    if (found != count) std::printf("only %d of %d names found as themselves\n", found, count);
    std::printf("%10d %12.3f %12.3f %14.3f\n", count, openTime, lookupTime, lookupTime * 1e6 / count);
  }
  return 0;
}
