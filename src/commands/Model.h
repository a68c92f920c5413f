// Model: the life of one model through a run: compile, update, save, the
// displays of its files, the iteration count, checkpoints and quitting.
//
// Each command is called by the command loop after the command word and its
// "(" have been read; it reads its own arguments and reports its own
// complaints.
#pragma once

#include <cstdint>
#include <string>

extern bool Model_error;  // the last compile or update failed; the run ends
// A checkpoint is written after every sweep whose number is a multiple of it.
extern int32_t Model_checkPointFreq;

// What the model commands keep for one chain and change while it sweeps: the
// number of sweeps done, which restarts set from a state file's iteration and
// which save, checkpoints and iter() report.
struct Model_Progress {
  int32_t iteration = 0;
};
// The progress of the chain bound to this thread.
extern thread_local constinit Model_Progress* Model_progress;
void Model_Bind(Model_Progress* progress);

// A clock time of day.
struct Model_Clock {
  int h, m, s;
};

// " hh:mm:ss " from start to now: clock times of day, so a run across
// midnight counts modulo 24 hours.
std::string Model_ElapsedText(Model_Clock start, Model_Clock now);

void InitModel();
void Model_Compile();
void Model_Update();
void Model_Save();
void Model_Quit();
void Model_Iter();
void Model_DisplayData();
void Model_DisplayInits();
void Model_DisplaySource();
void Model_WriteGraph();
// Sets the checkpoint frequency; values below 1 are ignored.
void Model_SetCheckPoint(int32_t n);
// Writes a checkpoint for the given iteration: the state (Params_restartFile)
// and the traces of the monitors (Params_sampleOutFile and
// Params_sampleIndexFile). All three are written under temporary names and
// checked before any replaces its earlier copy, so a checkpoint is taken
// whole or not at all: when a file cannot be written completely (no
// permission, a full disk) the console names it, says that the previous
// checkpoint is kept, every earlier file stays as it was, and the result is
// false. Complete files are committed as one set (Files_CommitSet, with
// Params_checkPointMark as the marker), so that a run killed at any instant
// leaves one checkpoint's three files, or a committed set that the next
// checkpoint or the next run on the stem completes.
bool Model_WriteCheckPoint(int32_t iteration);
// Run at start-up: completes a committed checkpoint that a stopped run left
// partly in place, or removes the temporary files of one it never committed,
// and says which on the console.
void Model_RecoverCheckPoint();
void Model_RunTimeError();
