# Library loader and code-page conversion.
add_library(winlib STATIC
  ${CMAKE_CURRENT_LIST_DIR}/LibLoaderApi.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StringApiSet.cpp
)
target_include_root(winlib win ${CMAKE_CURRENT_LIST_DIR}
  FILES LibLoaderApi.h StringApiSet.h WinDef.h)
target_link_libraries(winlib PUBLIC win rtl Qt6::Core ${CMAKE_DL_LIBS})
