// The workbooks of bench/xlsx_memory.sh and the read it measures. Writing and reading are
// separate runs of this program, so the peak memory of a read is the reader's alone.
//
//   xlsx_memory rows PATH N       N case rows of five columns, written as a spreadsheet program does
//   xlsx_memory many-rows PATH N  a hand-made sheet of N rows of one number (compresses to little)
//   xlsx_memory big-cell PATH MB  a hand-made sheet whose one inline text cell holds MB MiB
//   xlsx_memory blank PATH MB     a hand-made sheet of MB MiB of blanks between its rows
//   xlsx_memory read PATH         reads it; prints the rows read, or the error, and the seconds
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "examples/workbook_writer.hpp"
#include "support/xlsx/workbook.hpp"

namespace {

namespace fs = std::filesystem;

int usage() {
  std::fprintf(stderr, "usage: xlsx_memory rows|many-rows|big-cell|blank PATH N | read PATH\n");
  return 2;
}

void write_rows(const fs::path& path, long n) {
  std::vector<tovik::List> rows;
  rows.reserve(static_cast<std::size_t>(n));
  for (long i = 0; i < n; ++i)
    rows.push_back({tovik::Value(i + 1), tovik::Value("第 " + std::to_string(i) + " 步"), tovik::Value("assert"),
                    tovik::Value("value " + std::to_string(i)), tovik::Value(static_cast<double>(i) * 1.5)});
  tovik::examples::write_workbook(path, {{"cases", std::move(rows)}});
}

// Streams the sheet text through a callback so that the writer never holds it whole.
struct Generated {
  std::string head, body, tail;
  std::size_t repeat = 0;
  std::size_t emitted = 0;  // bytes handed out so far
  std::size_t size() const { return head.size() + body.size() * repeat + tail.size(); }
};

zip_int64_t generate(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
  auto* g = static_cast<Generated*>(state);
  switch (cmd) {
    case ZIP_SOURCE_OPEN:
      g->emitted = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      auto* out = static_cast<char*>(data);
      std::size_t written = 0;
      while (written < len && g->emitted < g->size()) {
        std::size_t at = g->emitted;
        const std::string* piece;
        std::size_t offset;
        if (at < g->head.size()) {
          piece = &g->head;
          offset = at;
        } else if (at < g->head.size() + g->body.size() * g->repeat) {
          piece = &g->body;
          offset = (at - g->head.size()) % g->body.size();
        } else {
          piece = &g->tail;
          offset = at - g->head.size() - g->body.size() * g->repeat;
        }
        std::size_t n = std::min<std::size_t>(piece->size() - offset, len - written);
        std::copy_n(piece->data() + offset, n, out + written);
        written += n;
        g->emitted += n;
      }
      return static_cast<zip_int64_t>(written);
    }
    case ZIP_SOURCE_CLOSE:
      return 0;
    case ZIP_SOURCE_STAT: {
      auto* st = static_cast<zip_stat_t*>(data);
      zip_stat_init(st);
      st->size = g->size();
      st->valid |= ZIP_STAT_SIZE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
      return 2 * sizeof(int);
    case ZIP_SOURCE_FREE:
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
      return -1;
  }
}

void write_crafted(const fs::path& path, Generated sheet) {
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string workbook = "<workbook xmlns:r=\"" + rel + "\"><sheets><sheet name=\"cases\" r:id=\"rId1\"/></sheets></workbook>";
  const std::string rels = "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel +
                           "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>";
  int code = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (!z) throw std::runtime_error("zip_open failed: " + std::to_string(code));
  zip_file_add(z, "xl/workbook.xml", zip_source_buffer(z, workbook.data(), workbook.size(), 0), 0);
  zip_file_add(z, "xl/_rels/workbook.xml.rels", zip_source_buffer(z, rels.data(), rels.size(), 0), 0);
  zip_file_add(z, "xl/worksheets/sheet1.xml", zip_source_function(z, generate, &sheet), 0);
  zip_set_file_compression(z, 2, ZIP_CM_DEFLATE, 9);
  if (zip_close(z) != 0) throw std::runtime_error(std::string("zip_close failed: ") + zip_strerror(z));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  const std::string mode = argv[1];
  const fs::path path = argv[2];
  try {
    if (mode == "read") {
      const auto start = std::chrono::steady_clock::now();
      std::string outcome;
      try {
        tovik::xlsx::Workbook book = tovik::xlsx::read_workbook(path);
        std::size_t rows = 0;
        for (const auto& sheet : book.sheets) rows += sheet.rows.size();
        outcome = "rows " + std::to_string(rows);
      } catch (const std::exception& e) {
        outcome = std::string("error ") + e.what();
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      std::printf("seconds %.3f %s\n", took.count(), outcome.substr(0, 300).c_str());
      return 0;
    }
    if (argc < 4) return usage();
    const long n = std::strtol(argv[3], nullptr, 10);
    if (mode == "rows") {
      write_rows(path, n);
    } else if (mode == "many-rows") {
      write_crafted(path, {"<worksheet><sheetData>", "<row><c><v>1</v></c></row>", "</sheetData></worksheet>",
                           static_cast<std::size_t>(n)});
    } else if (mode == "big-cell") {
      write_crafted(path, {"<worksheet><sheetData><row><c t=\"inlineStr\"><is><t>", std::string(1 << 20, 'x'),
                           "</t></is></c></row></sheetData></worksheet>", static_cast<std::size_t>(n)});
    } else if (mode == "blank") {
      write_crafted(path, {"<worksheet><sheetData><row><c><v>1</v></c></row>", std::string(1 << 20, ' '),
                           "</sheetData></worksheet>", static_cast<std::size_t>(n)});
    } else {
      return usage();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "xlsx_memory: %s\n", e.what());
    return 1;
  }
  return 0;
}
