// The program's icons: a page of text with marked lines. Colours are few, as for 16-colour icons.
#include "Resources.h"

#include "resource.h"

namespace {
// clang-format off
const char* const kMain32[] = {
    "32 32 6 1",
    ". c None",
    "b c #2050A0",
    "g c #B0B0B0",
    "k c #202020",
    "w c #FFFFFF",
    "y c #F8D030",
    "................................",
    "................................",
    ".....kkkkkkkkkkkkkkkk...........",
    ".....kwwwwwwwwwwwwwwkk..........",
    ".....kwwwwwwwwwwwwwwkgk.........",
    ".....kwwwwwwwwwwwwwwkggk........",
    ".....kwwwwwwwwwwwwwwkgggk.......",
    ".....kwwwwwwwwwwwwwwkggggk......",
    ".....kwwwwwwwwwwwwwwkkkkkkk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwbbwbbwbbwbbwbbwbwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwbbwbbwbbwbbwbbwbwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kyyyyyyyyyyyyyyyyyyyyk.....",
    ".....kyykkykkykkykkyyyyyyyk.....",
    ".....kyyyyyyyyyyyyyyyyyyyyk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwbbwbbwbbwbbwbbwbwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kwwwwwwwwwwwwwwwwwwwwk.....",
    ".....kkkkkkkkkkkkkkkkkkkkkk.....",
    "................................",
    "................................"
};
const char* const kMain16[] = {
    "16 16 6 1",
    ". c None",
    "b c #2050A0",
    "g c #B0B0B0",
    "k c #202020",
    "w c #FFFFFF",
    "y c #F8D030",
    "................",
    "..kkkkkkkkk.....",
    "..kwwwwwwwkk....",
    "..kwwwwwwwkgk...",
    "..kwwwwwwwkkkk..",
    "..kwwwwwwwwwwk..",
    "..kbwbwbwbwbwk..",
    "..kwwwwwwwwwwk..",
    "..kkykykykykyk..",
    "..kwwwwwwwwwwk..",
    "..kbwbwbwbwwwk..",
    "..kwwwwwwwwwwk..",
    "..kbwbwbwbwbwk..",
    "..kwwwwwwwwwwk..",
    "..kkkkkkkkkkkk..",
    "................"
};
const char* const kSmall16[] = {
    "16 16 7 1",
    ". c None",
    "b c #2050A0",
    "g c #B0B0B0",
    "k c #202020",
    "r c #C03020",
    "w c #FFFFFF",
    "y c #F8D030",
    "................",
    "..kkkkkkkkk.....",
    "..kwwwwwwwkk....",
    "..kwwwwwwwkgk...",
    "..kwwwwwwwkkkk..",
    "..kwwwwwwwwwwk..",
    "..kbwbwbwbwbwk..",
    "..kwwwwwwrrrwk..",
    "..kkykykrkykrk..",
    "..kwwwwrwwwwwr..",
    "..kbwbwrwbwwwr..",
    "..kwwwwrwwwwwr..",
    "..kbwbwbrbwbrk..",
    "..kwwwwwwrrrwr..",
    "..kkkkkkkkkkkkr.",
    "...............r"
};
// clang-format on
} // namespace

extern const IconResource g_iconMain = {IDR_MAINFRAME, kMain32, kMain16};
extern const IconResource g_iconSmall = {IDI_SMALL, nullptr, kSmall16};
