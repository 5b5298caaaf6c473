// Resource identifiers of the server module. The texts of the string table
// are the messages a user sees, in one place (server/quillbox.rc).
#pragma once

#define IDS_PROJNAME 100
// "Could not open the image file!" (VuPicture.LoadFile)
#define IDS_OPEN_IMAGE_FAILED 102
// "The file is damaged!" (VuPicture.ReadExif: the file cannot be opened)
#define IDS_FILE_DAMAGED 103
// "hDib  is null" (RotateModifier.Apply: the source holds no image)
#define IDS_ROTATE_NO_IMAGE 104
// "Rotate Failed" (RotateModifier.Apply: the library or the copy failed)
#define IDS_ROTATE_FAILED 105
// "load pic failed" (AddPic.LoadPicFile and LoadMaskFile: the file did not load)
#define IDS_LOAD_PIC_FAILED 106
// "Could not keep a copy of the source picture" (MirrorModifier.Apply)
#define IDS_PREHND_COPY_FAILED 107
