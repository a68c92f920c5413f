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
void Model_RunTimeError();
