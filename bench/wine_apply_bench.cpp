// The patcher's diff application under Wine beside a plain copy of the new file, in the
// same process: the copy reads and writes 1 MiB blocks with ReadFile and WriteFile, the
// apply is ApplyDiff itself (paged old file, one page reader per stream, 1 MiB writer).
// Usage: wine_apply_bench OLD DIFF FORM NEW OUT ROUNDS; prints the best time of each and
// their ratio. bench/wine_apply_figures.py makes the files and runs it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/diff/apply_diff.h"
#include "os/files.h"

namespace {

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool Copy(const std::wstring& from, const std::wstring& to) {
  HANDLE in = CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE out = CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  std::vector<char> buffer(1 << 20);
  bool ok = in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE;
  for (DWORD got = 0; ok;) {
    ok = ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) != 0;
    if (!ok || got == 0) break;
    DWORD put = 0;
    ok = WriteFile(out, buffer.data(), got, &put, nullptr) && put == got;
  }
  if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 7) return 2;
  const std::wstring old_path = argv[1], diff_path = argv[2], new_path = argv[4],
                     out = argv[5];
  const int form = _wtoi(argv[3]), rounds = _wtoi(argv[6]);
  std::uint64_t size = 0;
  if (!vard::QueryFileSize(new_path, size)) return 1;
  double copy_best = 1e9, apply_best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    DeleteFileW(out.c_str());
    double start = Now();
    if (!Copy(new_path, out)) return 1;
    copy_best = std::min(copy_best, Now() - start);
    DeleteFileW(out.c_str());
    start = Now();
    if (!vard::ApplyDiff(out, old_path, diff_path, nullptr, nullptr, form, size)) return 1;
    apply_best = std::min(apply_best, Now() - start);
    std::uint64_t written = 0;
    if (!vard::QueryFileSize(out, written) || written != size) return 1;
  }
  DeleteFileW(out.c_str());
  std::printf("new file %llu bytes: copy %.3f s, apply (form %d) %.3f s, ratio %.2f\n",
              static_cast<unsigned long long>(size), copy_best, form, apply_best,
              apply_best / copy_best);
  return 0;
}
