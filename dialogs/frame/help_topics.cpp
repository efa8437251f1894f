#include "dialogs/frame/help_topics.h"

#include "dialogs/frame/help.h"

unsigned GetStateHelpContext(unsigned stateCode) {
  switch (stateCode) {
    case 0:
      return 2;
    case 1:
      return 3;
    case 2:
      return 4;
    case 3:
      return 5;
    case 4:
      return 6;
    case 5:
      return 7;
    case 6:
      return 8;
    case 7:
    case 16:
      return 9;
    case 8:
      return 10;
    case 9:
      return 23;
    case 10:
      return 24;
    case 11:
      return 25;
    case 12:
      return 28;
    case 13:
      return 26;
    case 14:
    case 15:
      return 29;
    case 17:
      return 11;
    case 18:
    case 19:
      return 13;
    case 20:
    case 21:
      return 39;
    case 22:
      return 34;
    default:
      return kGeneralHelpTopic;
  }
}

unsigned GetAlarmHelpContext(unsigned eventNumber) {
  // Events 1..18 alternate between an alarm (odd, the state's topic) and its clearing (even,
  // topics 14..22); 15/16 share their topics with the agent communication events 26/27.
  static const unsigned kTopics[] = {
      kGeneralHelpTopic,  // 0: no event
      2,
      14,
      3,
      15,
      4,
      16,
      5,
      17,
      6,
      18,  // 1..10
      7,
      19,
      8,
      20,
      9,
      21,
      10,
      22,  // 11..18
      23,
      24,
      25,
      26,
      28,
      28,
      29,  // 19..25
      9,
      21,  // 26, 27
      11,
      30,
      12,
      31,
      13,
      32,  // 28..33
      33,
      33,                 // 34, 35
      kGeneralHelpTopic,  // 36
  };
  if (eventNumber >= sizeof(kTopics) / sizeof(kTopics[0])) return kGeneralHelpTopic;
  return kTopics[eventNumber];
}
