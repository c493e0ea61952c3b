# The outside dependencies, found once and offered as imported targets with
# the Vexa:: prefix so that modules name them the same way everywhere.

find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)

# ITK: only the modules the tree uses; no UseITK (it would register every IO
# factory behind our back; NRRD is registered explicitly where it is read).
find_package(ITK 4.13 REQUIRED COMPONENTS ITKCommon ITKIOImageBase ITKIONRRD ITKVNL ITKTransform)
add_library(Vexa::ITK INTERFACE IMPORTED)
set_target_properties(Vexa::ITK PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${ITK_INCLUDE_DIRS}"
  INTERFACE_LINK_LIBRARIES "${ITK_LIBRARIES}")

find_package(OpenCV 4 REQUIRED COMPONENTS core imgproc videoio calib3d imgcodecs)
add_library(Vexa::OpenCV INTERFACE IMPORTED)
set_target_properties(Vexa::OpenCV PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${OpenCV_INCLUDE_DIRS}"
  INTERFACE_LINK_LIBRARIES "${OpenCV_LIBS}")

find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Test)
# the help compiler of the plug-ins' help collections, beside Qt's other tools
get_target_property(_vexa_qmake Qt5::qmake IMPORTED_LOCATION)
get_filename_component(_vexa_qt_tools "${_vexa_qmake}" DIRECTORY)
find_program(VEXA_QHELPGENERATOR qhelpgenerator HINTS "${_vexa_qt_tools}" REQUIRED)

# OpenIGTLink 1.11's config file only sets variables.
find_package(OpenIGTLink REQUIRED NO_MODULE PATHS /usr/lib/openigtlink)
find_library(VEXA_OPENIGTLINK_LIBRARY NAMES OpenIGTLink HINTS ${OpenIGTLink_LIBRARY_DIRS} REQUIRED)
add_library(Vexa::OpenIGTLink INTERFACE IMPORTED)
set_target_properties(Vexa::OpenIGTLink PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${OpenIGTLink_INCLUDE_DIRS}"
  INTERFACE_LINK_LIBRARIES "${VEXA_OPENIGTLINK_LIBRARY};Threads::Threads")

find_package(PkgConfig REQUIRED)
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3 fftw3f)
add_library(Vexa::FFTW INTERFACE IMPORTED)
set_target_properties(Vexa::FFTW PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::FFTW3)
