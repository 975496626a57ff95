#pragma once
// The entries of the board's lists as the window shows them: gain, data
// rate and channel. A board code is the position of its entry. The window
// fills its lists from here and the command-line tool names the board's
// state with the same texts (the data file's header carries them).

#include <QStringList>

// "Gain=1", "Gain=8", "Gain=16", "Gain=32", "Gain=64", "Gain=128".
const QStringList& GainListEntries();
// "5sps" .. "1200sps": the first `count` entries of the full list of eleven
// (the Tamrix board offers 11, the Selvor board 7).
QStringList RateListEntries(int count);
// "CH0=Ain0-Ain1", "CH1=Ain2-Ain3", "CH0 + CH1".
const QStringList& ChannelListEntries();
