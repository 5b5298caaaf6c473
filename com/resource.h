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

// ErrorDetail: English sentences naming the cause of a picture's last failed
// load or save. %1 is a path (or an extension), %2 a number or a folder.
#define IDS_DETAIL_NO_PATH 120
#define IDS_DETAIL_NO_FILE 121
#define IDS_DETAIL_NO_FOLDER 122
#define IDS_DETAIL_IS_FOLDER 123
#define IDS_DETAIL_CANNOT_OPEN 124
#define IDS_DETAIL_EMPTY_FILE 125
#define IDS_DETAIL_NOT_IMAGE 126
#define IDS_DETAIL_CORRUPT 127
#define IDS_DETAIL_TOO_LARGE 128
#define IDS_DETAIL_NO_MEMORY 129
#define IDS_DETAIL_LOAD_FAILED 130
#define IDS_DETAIL_NOT_BYTE_ARRAY 131
#define IDS_DETAIL_ARRAY_DIMENSIONS 132
#define IDS_DETAIL_EMPTY_ARRAY 133
#define IDS_DETAIL_BYTES_NOT_IMAGE 134
#define IDS_DETAIL_BYTES_CORRUPT 135
#define IDS_DETAIL_BYTES_TOO_LARGE 136
#define IDS_DETAIL_BYTES_FAILED 137
#define IDS_DETAIL_NO_HEIF 138
#define IDS_DETAIL_BYTES_NO_HEIF 139
#define IDS_DETAIL_NO_IMAGE 140
#define IDS_DETAIL_UNKNOWN_EXTENSION 141
#define IDS_DETAIL_SAVE_NO_FOLDER 142
#define IDS_DETAIL_SAVE_IN_THE_WAY 143
#define IDS_DETAIL_SAVE_CANNOT_WRITE 144
#define IDS_DETAIL_ENCODE_FAILED 145
