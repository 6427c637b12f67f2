#pragma once

// Control ids, command values and window messages of the dialog templates and menus.
namespace res {

// Standard buttons.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdStatic = -1;

// Template 102: main window.
constexpr int IDD_TARNBOX = 102;
constexpr int IDC_IMAGE_LIST = 1000;
constexpr int IDC_COMPRESSION = 1003;
constexpr int IDC_IMAGE_COUNT = 1004;
constexpr int IDC_FILE_PATH = 1005;
constexpr int IDC_ACCESS = 1006;
constexpr int IDC_WORK_DIR = 1008;
constexpr int IDC_PROGRESS = 1010;
constexpr int IDC_BUSY_LABEL = 1011;
constexpr int IDC_WORK_DIR_BUTTON = 1012;
constexpr int IDC_PERCENT = 1022;
constexpr int IDC_REMAINING = 1023;

// Template 103: image information.
constexpr int IDD_IMAGE_INFO = 103;
constexpr int IDC_CAPTURE_PATH = 1001;
constexpr int IDC_DISPLAY_NAME = 1002;
constexpr int IDC_IMAGE_NAME = 1003;
constexpr int IDC_BROWSE_PATH = 1012;
constexpr int IDC_DISPLAY_DESCRIPTION = 1013;
constexpr int IDC_IMAGE_DESCRIPTION = 1014;
constexpr int IDC_SYSTEM_FLAG = 1015;
constexpr int IDC_CHECK_STATUS = 1016;
constexpr int IDC_CAPTURE_PATH_LABEL = 1017;

// Template 104: output.
constexpr int IDD_OUTPUT = 104;
constexpr int IDC_OUTPUT_TEXT = 1001;

// Template 105: exclusion list.
constexpr int IDD_EXCLUSIONS = 105;
constexpr int IDC_EXCLUSION_LIST = 1021;

// Menu 129 (main list) and 132 (exclusion list).
constexpr int IDR_MAIN_MENU = 129;
constexpr int IDR_EXCLUSION_MENU = 132;
constexpr int ID_ADD_IMAGE = 32771;
constexpr int ID_DELETE_IMAGE = 32772;
constexpr int ID_EXPORT_IMAGE = 32773;
constexpr int ID_NEW_FILE = 32774;
constexpr int ID_SET_BOOT_IMAGE = 32775;
constexpr int ID_EDIT_IMAGE = 32776;
constexpr int ID_APPLY_IMAGE = 32777;
constexpr int ID_OPEN_FILE = 32778;
constexpr int ID_SET_WORK_DIR = 32779;
constexpr int ID_ADD_FOLDER = 32780;
constexpr int ID_REMOVE_ENTRY = 32781;
constexpr int ID_ADD_FILE = 32783;
constexpr int ID_SET_EXCLUSIONS = 32785;
// Beyond menu 129's own items: the archive file as a whole.
constexpr int ID_SPLIT_FILE = 32793;
constexpr int ID_VERIFY_FILE = 32794;
constexpr int ID_OPTIMIZE_FILE = 32795;
// Pop-up 0: the selected image mounted as a folder, read-only or read-write, and unmounted.
constexpr int ID_MOUNT_IMAGE = 32796;
constexpr int ID_MOUNT_IMAGE_RW = 32797;
constexpr int ID_UNMOUNT_IMAGE = 32798;
// The recent archives in pop-up 1 (ID_RECENT_ARCHIVE + 0 the most recent),
// and the key that opens the most recent again.
constexpr int ID_RECENT_ARCHIVE = 32840;
constexpr int kRecentArchiveCount = 10;
constexpr int ID_REOPEN_LAST = 32850;

// The browse dialog: laid out, not a template of fixed rectangles.
constexpr int IDD_BROWSE_IMAGE = 108;
constexpr int IDC_FOLDER_PATH = 1031;
constexpr int IDC_FOLDER_UP = 1032;
constexpr int IDC_FOLDER_TREE = 1033;
constexpr int IDC_ENTRY_LIST = 1034;
constexpr int IDC_BROWSE_STATUS = 1035;
constexpr int IDC_EXTRACT = 1036;
constexpr int IDC_FIND_NAME = 1037;
constexpr int IDC_FIND_RESULTS = 1038;
constexpr int IDC_IMAGE_DETAILS = 1039;
// Menu 129, pop-up 0: browse the selected image; the browse dialog's menus.
constexpr int ID_BROWSE_IMAGE = 32790;
constexpr int ID_EXTRACT_ENTRIES = 32791;
// The browse dialog's changes of the image's files, and opening an entry.
constexpr int ID_ADD_FILES_TO_IMAGE = 32870;
constexpr int ID_ADD_FOLDER_TO_IMAGE = 32871;
constexpr int ID_NEW_IMAGE_FOLDER = 32872;
constexpr int ID_RENAME_ENTRY = 32873;
constexpr int ID_DELETE_ENTRIES = 32874;
constexpr int ID_OPEN_ENTRY = 32875;

constexpr int IDI_MAIN = 128;

// The window messages of the progress protocol (WM_USER + 100 ...).
constexpr unsigned WM_USER = 0x0400;
constexpr unsigned WM_OP_PROGRESS = WM_USER + 100;
constexpr unsigned WM_OP_ERROR = WM_USER + 101;
constexpr unsigned WM_OP_RETRY = WM_USER + 102;
constexpr unsigned WM_OP_INFO = WM_USER + 103;
constexpr unsigned WM_OP_WARNING = WM_USER + 104;
constexpr unsigned WM_OP_PROCESS = WM_USER + 105;

}  // namespace res
