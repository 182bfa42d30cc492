# Puts the module, the engine script and the icon into the page template.
# Run with -DBASE64= -DSOURCE_DIR= -DICON= -DMODULE= -DZIP_SCRIPT= -DZIP_LICENSE= -DOUTPUT=.
function(read_base64 file out)
  execute_process(COMMAND ${BASE64} -w0 ${file} OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

read_base64(${MODULE} module)
read_base64(${ICON} icon)
file(READ ${SOURCE_DIR}/quarnel_engine.js engine)
file(READ ${SOURCE_DIR}/index.html page)
file(READ ${ZIP_SCRIPT} zip)
file(READ ${ZIP_LICENSE} zip_license)
string(REPLACE "&" "&amp;" zip_license "${zip_license}")
string(REPLACE "<" "&lt;" zip_license "${zip_license}")
# Plain replacement of marked places: the page's own "@" and "${" stay as written.
string(REPLACE "/*QUARNEL_ENGINE_SCRIPT*/" "${engine}" page "${page}")
string(REPLACE "/*QUARNEL_ZIP_SCRIPT*/" "${zip}" page "${page}")
string(REPLACE "QUARNEL_ZIP_LICENSE" "${zip_license}" page "${page}")
string(REPLACE "QUARNEL_MODULE_BASE64" "${module}" page "${page}")
string(REPLACE "QUARNEL_ICON_BASE64" "${icon}" page "${page}")
file(WRITE ${OUTPUT}.part "${page}")
file(RENAME ${OUTPUT}.part ${OUTPUT})
