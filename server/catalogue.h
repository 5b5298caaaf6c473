// The class catalogue: every class of the module, once, in object-map
// order, with the number of its REGISTRY resource. The object map
// (server/object_map.cpp), the surrogate (host/quillbox_host.cpp) and the
// build's registry scripts (cmake/catalogue.cmake) are all made from this
// list; CLSIDs come from the IDL.
//
//   QB_CLASS(Name, ScriptId)
//     a creatable class served by the module;
//   QB_UNSERVED_CLASS(Name, ScriptId, CLSID)
//     a class whose registry script the module carries but never runs; its
//     CLSID is not in the IDL, so it is written here.
//   QB_CLASS_COUNT(N)
//     how many QB_CLASS lines there are: the one place the number is
//     written; the object map and the build check the list against it.
//   QB_APPID(ScriptId, APPID)
//     the AppID of the served classes: its registry script names the
//     surrogate (QuillboxHost.exe beside the module) that serves them to
//     clients out of process, all in one process.
//
// No include guard: the includer defines the four macros.

QB_CLASS_COUNT(29)

QB_CLASS(VuPicture, 101)
QB_CLASS(SharpModifier, 103)
QB_CLASS(BlurModifier, 106)
QB_CLASS(Zoom, 107)
QB_CLASS(ImageRender, 108)
QB_CLASS(InputSource, 109)
QB_CLASS(Contrast, 110)
QB_CLASS(Bright, 111)
QB_CLASS(Crop, 112)
QB_CLASS(AddText, 113)
QB_CLASS(Frame, 114)
QB_CLASS(AddPic, 115)
QB_CLASS(FolderInput, 116)
QB_CLASS(ImageCollection, 117)
QB_CLASS(ImageFinder, 118)
QB_CLASS(ImageInputService, 119)
QB_CLASS(ImageInputSource, 120)
QB_CLASS(ImageInputSourceCollection, 121)
QB_CLASS(ImageOutputService, 122)
QB_CLASS(ImageOutputTarget, 123)
QB_CLASS(ImageOutputTargetCollection, 124)
QB_CLASS(RotateModifier, 125)
QB_CLASS(FileInfoArray, 127)
QB_CLASS(ImageFile, 129)
QB_CLASS(RedEye, 130)
QB_CLASS(ExportToCard, 131)
QB_CLASS(MirrorModifier, 132)
QB_CLASS(AdjustColorModifier, 133)
QB_CLASS(WallPaper, 134)

QB_APPID(100, 7FDB9A37-8C29-4BC1-A86E-DA689D79C00B)

QB_UNSERVED_CLASS(PictureModifier, 105, 78D01E0A-8C55-493F-A584-370547EA907A)
QB_UNSERVED_CLASS(FileInfo, 128, EFBC1543-07F8-4553-AE62-A4C07857D697)
