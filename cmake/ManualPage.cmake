cmake_minimum_required(VERSION 3.25)
# cmake -P: the manual's Markdown as HTML inside its page (title, style), written
# whole or not at all. Raw HTML in the source is kept: it gives the headings the
# anchors the contents link to.
execute_process(COMMAND ${CMARK_GFM} --unsafe --extension table --extension autolink ${SOURCE}
                OUTPUT_VARIABLE body RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmark-gfm failed on ${SOURCE}")
endif()
file(READ ${TEMPLATE} page)
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@BODY@" "${body}" page "${page}")
file(WRITE ${OUTPUT}.new "${page}")
file(RENAME ${OUTPUT}.new ${OUTPUT})
