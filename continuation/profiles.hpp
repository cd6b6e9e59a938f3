// The solution profiles of chosen records (--profiles): each one's whole
// trajectory in ZANFEL.PROFILES.csv, written right after the record's row.
// The last record's label can still change (the end of a sweep labels it,
// a resume takes the label back), so its profile is the one that may be
// written again, or cut off, afterwards.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "continuation/special_options.hpp"
#include "report/profiles_csv.hpp"
#include "report/text_file.hpp"
#include "shooting/profile.hpp"

namespace zanfel {

// What a run that writes profiles keeps of them: the file, the state of its
// last record as the record's trajectory started from it, and the last
// profile written with where its rows begin.
template <ShootingModel Model> struct ProfileBook {
  TextFile file;
  typename Model::Globals lastRecord{};
  bool haveLastRecord = false;
  // With segments: the cuts, and the node states of the last record.
  const SegmentCuts *cuts = nullptr;
  std::vector<REAL> lastNodes;
  Profile last;
  long long lastStart = -1;

  void Note(const typename Model::Globals &state, const REAL *nodes) {
    lastRecord = state;
    haveLastRecord = true;
    if (cuts && nodes)
      lastNodes.assign(nodes, nodes + (cuts->M - 1) * Model::NEQN);
  }
};

// The profile of the book's last record, `number` with this label, from the
// state its trajectory started from (and its node states, with segments).
template <ShootingModel Model>
Profile ProfileOf(const ProfileBook<Model> &book, long number, const RecordLabel &label) {
  const typename Model::Globals &state = book.lastRecord;
  Profile p{number, LabelText(label), state.P, {}};
  auto visit = [&p](REAL t, View1<const REAL> y) {
    ProfilePoint point{t, std::vector<REAL>(static_cast<std::size_t>(Model::NEQN))};
    for (int i = 1; i <= Model::NEQN; ++i)
      point.y[static_cast<std::size_t>(i - 1)] = y[i];
    p.points.push_back(std::move(point));
  };
  if (book.cuts && book.cuts->Multiple())
    SegmentedProfileTrajectory<Model>(state, *book.cuts, book.lastNodes.data(), visit);
  else
    ProfileTrajectory<Model>(state, visit);
  return p;
}

template <ShootingModel Model> void WriteProfile(ProfileBook<Model> &book, Profile p) {
  book.lastStart = book.file.Written();
  book.file.Write(ProfileRows(p));
  book.file.WriteThrough();
  book.last = std::move(p);
}

// The profiles file of a fresh run, when it writes profiles: taken with the
// run's other files, then emptied but for its head.
template <ShootingModel Model>
void CreateProfilesFile(ProfileBook<Model> &book, const ProfileChoice &choice,
                        std::string_view program) {
  if (!choice.Any())
    return;
  book.file.Rewrite();
  book.file.Write(ProfilesHead(program, Model::NEQN));
  book.file.WriteThrough();
}

// A record is being written from `state`, as its trajectory started: kept,
// for its profile now or when its label changes.
template <ShootingModel Model>
void NoteRecordState(ProfileBook<Model> &book, const ProfileChoice &choice,
                     const typename Model::Globals &state, const REAL *nodes) {
  if (choice.Any())
    book.Note(state, nodes);
}

// The record noted has been written with this label: its profile follows
// when the choice wants it.
template <ShootingModel Model>
void ProfileRecord(ProfileBook<Model> &book, const ProfileChoice &choice, long number,
                   const RecordLabel &label) {
  if (choice.Any() && choice.Wants(number, label))
    WriteProfile(book, ProfileOf<Model>(book, number, label));
}

// The last record, `number`, now has this label: its profile is written
// again with it, cut off when the choice no longer wants it, or written
// when it wants it now.
template <ShootingModel Model>
void RelabelLastProfile(ProfileBook<Model> &book, const ProfileChoice &choice, long number,
                        const RecordLabel &label) {
  if (!choice.Any())
    return;
  const bool written = book.lastStart >= 0 && book.last.record == number;
  const bool wanted = choice.Wants(number, label);
  if (written) {
    book.file.CutBack(book.lastStart);
    if (wanted) {
      book.last.label = LabelText(label);
      book.file.Write(ProfileRows(book.last));
      book.file.WriteThrough();
    } else {
      book.lastStart = -1;
      book.last = {};
    }
  } else if (wanted && book.haveLastRecord) {
    WriteProfile(book, ProfileOf<Model>(book, number, label));
  }
}

// A resumed run's profiles: the file read under its lock, cut back to the
// profiles of the rows the run goes on from, and the last row's written when
// the stop came before it (its state is the resumed one). 0, or the errno
// value when the file cannot be taken; a missing file starts again empty.
template <ShootingModel Model>
int ResumeProfiles(ProfileBook<Model> &book, const ProfileChoice &choice, std::string_view program,
                   const typename Model::Globals &lastState, const REAL *lastNodes, long lastRecord,
                   const RecordLabel &lastLabel, std::string &why) {
  if (!choice.Any())
    return 0;
  book.file.Assign(ProfilesPath());
  std::string bytes;
  if (const int error = book.file.TakeExisting(bytes); error != 0 && error != ENOENT) {
    why = ProfilesPath() + ": " + std::strerror(error);
    return error;
  }
  const ProfilesText read = ReadProfiles(bytes, Model::NEQN);
  std::size_t keep = 0;
  std::size_t kept = 0;
  if (read.headOk) {
    keep = read.whole;
    for (; kept < read.profiles.size(); ++kept) {
      const Profile &p = read.profiles[kept];
      if (p.record > lastRecord || p.points.empty() || p.points.back().t != 1.0L) {
        keep = read.starts[kept];
        break;
      }
    }
  }
  book.Note(lastState, lastNodes);
  if (!read.headOk) {
    book.file.Rewrite();
    book.file.Write(ProfilesHead(program, Model::NEQN));
    book.file.WriteThrough();
  } else {
    book.file.Append(static_cast<long long>(keep));
    if (kept > 0 && read.profiles[kept - 1].record == lastRecord) {
      book.last = read.profiles[kept - 1];
      book.lastStart = static_cast<long long>(read.starts[kept - 1]);
      return 0;
    }
  }
  if (choice.Wants(lastRecord, lastLabel))
    WriteProfile(book, ProfileOf<Model>(book, lastRecord, lastLabel));
  return 0;
}

} // namespace zanfel
