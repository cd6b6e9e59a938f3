// The six-line record each driver writes after a continuation step. The three
// families differ only in widths, labels and which YOUT elements they show.
#pragma once

#include <string>

#include "report/format.hpp"
#include "report/text_file.hpp"
#include "runtime/types.hpp"

namespace zanfel {

// The fields every family shares: H, H1 and the YOUT values with 8 decimals;
// YOUT[1] in 11 columns and the rest of line 2 in 14; lines 4 and 5 in 10.
inline constexpr int kRecordDecimals = 8;
inline constexpr int kFirstEndWidth = 11;
inline constexpr int kEndWidth = 14;
inline constexpr int kShortWidth = 10;

struct RecordLayout {
  int wH, wH1;    // fields of H and H1 on line 1
  const char *L1; // label before H1
  const char *Lx; // label before each "I]:=" on line 3
  int wX, dX;     // field of X[I] on line 3
  const char *Lz; // label of line 5
  int line2Count; // YOUT[1] .. YOUT[line2Count] on line 2
  int iv;         // YOUT[iv] after "v=", YOUT[iv + 1] after "DG="
  int iz;         // YOUT[iz] after Lz
};

inline constexpr RecordLayout kRecordA{10, 11, ";x[1]:=", "; x[", 11, 8, "G(1)=", 5, 6, 8};
inline constexpr RecordLayout kRecordB{12, 12, ";x[1]:=", "; x[", 13, 10, "Bh=", 4, 10, 12};
inline constexpr RecordLayout kRecordC{10, 11, "x[1]:=", " x[", 13, 10, "Bhh=", 4, 5, 7};

// A record as text in memory, to set beside what a file holds.
struct TextBuffer {
  std::string text;
  void Write(std::string_view t) { text += t; }
  void WriteLn(std::string_view t = {}) {
    text += t;
    text += "\r\n";
  }
  void WriteThrough() {}
};

// Writes the record and hands it to the file (a TextFile) at once.
template <class File, int N, int NOUT>
void WriteRecord(File &f, const RecordLayout &L, REAL H, REAL H1, const GLNARRAY<N> &X,
                 const GLNARRAY1<NOUT> &YOUT) {
  f.Write("h:=");
  f.Write(Fixed(H, L.wH, kRecordDecimals));
  f.Write("   ");
  f.Write(L.L1);
  f.WriteLn(Fixed(H1, L.wH1, kRecordDecimals));

  f.Write(Fixed(YOUT[1], kFirstEndWidth, kRecordDecimals));
  f.Write("   ");
  f.Write(Fixed(YOUT[2], kEndWidth, kRecordDecimals));
  for (int i = 3; i <= L.line2Count; ++i) {
    f.Write("  ");
    f.Write(Fixed(YOUT[i], kEndWidth, kRecordDecimals));
  }
  f.WriteLn();

  for (int i = 2; i <= N; ++i) {
    f.Write(L.Lx);
    f.Write(std::to_string(i));
    f.Write("]:=");
    f.Write(Fixed(X[i], L.wX, L.dX));
  }
  f.WriteLn();

  f.Write("v=");
  f.Write(Fixed(YOUT[L.iv], kShortWidth, kRecordDecimals));
  f.Write("  DG=");
  f.WriteLn(Fixed(YOUT[L.iv + 1], kShortWidth, kRecordDecimals));

  f.Write(L.Lz);
  f.WriteLn(Fixed(YOUT[L.iz], kShortWidth, kRecordDecimals));

  f.WriteLn();
  f.WriteThrough();
}

} // namespace zanfel
