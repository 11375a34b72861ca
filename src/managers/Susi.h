#pragma once
// Our own stand-in for the GPIO board library: the five calls the board
// manager makes, with their status codes, dispatched to a replaceable back-end
// (a file-driven simulator for local runs, an in-memory fake in tests).

#include <cstdint>

class SusiBackend;

using SusiStatus = std::uint32_t;

constexpr SusiStatus SusiStatusSuccess = 0;
constexpr SusiStatus SusiStatusNotInitialized = 1;
constexpr SusiStatus SusiStatusInvalidParameter = 2;
constexpr SusiStatus SusiStatusReadError = 3;
constexpr SusiStatus SusiStatusWriteError = 4;

// Board string ids read at start-up.
constexpr std::uint32_t SusiBoardModel = 1;
constexpr std::uint32_t SusiBoardFirmware = 7;

// Names the directory of the file-driven simulator; without it there is no board.
constexpr const char* SusiSimulatorDirVariable = "LANE_GPIO_SIM";

SusiStatus SusiLibInitialize();
// Copies a NUL-terminated text into buffer; length holds its size in and the text's length out.
SusiStatus SusiBoardGetStringA(std::uint32_t id, char* buffer, std::uint32_t* length);
SusiStatus SusiGPIOGetLevel(std::uint32_t pin, std::uint32_t bitmask, std::uint32_t* level);
SusiStatus SusiGPIOGetDirection(std::uint32_t pin, std::uint32_t bitmask, std::uint32_t* direction);
SusiStatus SusiGPIOSetDirection(std::uint32_t pin, std::uint32_t bitmask, std::uint32_t direction);

// Installs the back-end of every later call (null: the default one) and returns the previous.
// The default is the file simulator when the variable above names a directory, else
// a board that is not there (every call fails with SusiStatusNotInitialized).
SusiBackend* susiSetBackend(SusiBackend* backend);
