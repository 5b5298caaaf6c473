// Resource identifiers of the card player. The texts of its string table
// (showreel.rc) are the messages a user sees.
#pragma once

// "This copy of the player carries no card: there is no picture to show."
#define IDS_NO_CARD 100
// "The card is damaged and cannot be shown." (followed by the reason)
#define IDS_DAMAGED 101
// "The picture in this card cannot be read."
#define IDS_BAD_PICTURE 102
// "Attached file:" (in front of the second record's name)
#define IDS_ATTACHED 103
// "Usage: Showreel.EXE [/list | /extract FOLDER]"
#define IDS_USAGE 104
// "A file of this name is already in the folder and was left as it is:"
#define IDS_EXISTS 105
// "A file of the card cannot be written:"
#define IDS_CANNOT_WRITE 106
// "This player cannot show pictures of this format:" (followed by the
// format's name, or the picture's file extension when no format matches)
#define IDS_CANNOT_SHOW 107
