/* The Harbour side of the interop tests: one program, two jobs.

   hbxbase make RDD DATA INDEXES   creates t.dbf, appends the records of the
                                 data file's "A" lines up to the first "="
                                 line, builds every index of INDEXES, then
                                 applies the remaining lines (appends,
                                 updates, deletes) with all indexes open,
                                 and reports.
   hbxbase use RDD DATA INDEXES    opens the existing t.dbf with the indexes
                                 of INDEXES, reports, applies the data file's
                                 lines after its "=" line, and reports again.

   RDD is DBFNTX or DBFCDX; it runs in the current directory.

   DATA: tab-separated lines OP RECNO NAME CODE AGE SAL BIRTH, OP one of
   A (append), U (update RECNO), D (delete RECNO), R (recall RECNO); BIRTH
   as YYYYMMDD or empty; "=" alone separates the first records from the
   maintenance.

   INDEXES: tab-separated lines NAME EXPR FLAGS FOR, FLAGS a word of U
   (unique) and D (descending), "-" for none; FOR empty for none. NAME is
   the NTX file's base name or the CDX tag name.

   Report: per order "O NAME COUNT", then "W" and the record numbers of the
   walk from the top, then for the key of every 97th record "S VALUE<tab>
   FOUND<tab>RECNO" for an exact seek and "F VALUE<tab>FOUND<tab>RECNO" for
   a soft seek of a value just past it (a text's first three characters and
   "~", a number + 0.5, a date + 1) (VALUE: text as is, numbers with
   hb_ntos, dates as DTOS; FOUND F and RECNO 0 at the end of file). Reports
   are introduced by "R phase".

   The use job opens the table shared, as programs sharing files do: it
   locks each record it changes. */

REQUEST DBFNTX, DBFCDX
/* Functions the key expressions and FOR conditions name: a macro-compiled
   expression finds only functions linked into the program. */
REQUEST DESCEND, STRZERO, YEAR, MONTH, DAY, DTOS, UPPER, LOWER, STR, EMPTY
REQUEST SUBSTR, LEFT, RIGHT, ALLTRIM, TRIM, LTRIM, RTRIM, PADL, PADR, PADC
REQUEST VAL, DELETED, RECNO, INT, ROUND, ABS, LEN

PROCEDURE Main( cJob, cRdd, cData, cIndexes )
   LOCAL aData := ReadLines( cData ), aIndexes := ReadLines( cIndexes )
   LOCAL nSplit := AScan( aData, {| c | c == "=" } )
   LOCAL cIndex, aIndex

   rddSetDefault( cRdd )
   SET DELETED OFF
   SET EXACT OFF
   IF cJob == "make"
      dbCreate( "t", { { "NAME", "C", 20, 0 }, { "CODE", "C", 6, 0 }, ;
                       { "AGE", "N", 3, 0 }, { "SAL", "N", 10, 2 }, ;
                       { "BIRTH", "D", 8, 0 } } )
      USE t EXCLUSIVE NEW
      Apply( aData, 1, nSplit - 1 )
      FOR EACH cIndex IN aIndexes
         aIndex := hb_ATokens( cIndex, Chr( 9 ) )
         ordCondSet( iif( Empty( aIndex[ 4 ] ), NIL, aIndex[ 4 ] ), ;
                     iif( Empty( aIndex[ 4 ] ), NIL, &( "{||" + aIndex[ 4 ] + "}" ) ), ;
                     , , , , , , , , "D" $ aIndex[ 3 ] )
         IF cRdd == "DBFNTX"
            ordCreate( aIndex[ 1 ], , aIndex[ 2 ], &( "{||" + aIndex[ 2 ] + "}" ), "U" $ aIndex[ 3 ] )
         ELSE
            ordCreate( , aIndex[ 1 ], aIndex[ 2 ], &( "{||" + aIndex[ 2 ] + "}" ), "U" $ aIndex[ 3 ] )
         ENDIF
      NEXT
      OpenOrders( cRdd, aIndexes )
      Report( "built" )
   ELSE
      USE t SHARED NEW
      OpenOrders( cRdd, aIndexes )
      Report( "read" )
   ENDIF
   Apply( aData, nSplit + 1, Len( aData ) )
   Report( "maintained" )
   dbCloseAll()
   RETURN

STATIC FUNCTION ReadLines( cFile )
   LOCAL aLines := hb_ATokens( StrTran( MemoRead( cFile ), Chr( 13 ), "" ), Chr( 10 ) )
   DO WHILE Len( aLines ) > 0 .AND. Empty( ATail( aLines ) )
      ASize( aLines, Len( aLines ) - 1 )
   ENDDO
   RETURN aLines

/* Every order of INDEXES open, in the order of INDEXES. */
STATIC PROCEDURE OpenOrders( cRdd, aIndexes )
   LOCAL cIndex
   ordListClear()
   IF cRdd == "DBFNTX"
      FOR EACH cIndex IN aIndexes
         ordListAdd( hb_ATokens( cIndex, Chr( 9 ) )[ 1 ] )
      NEXT
   ELSE
      ordListAdd( "t" )
   ENDIF
   RETURN

STATIC PROCEDURE Apply( aData, nFrom, nTo )
   LOCAL i, a
   FOR i := nFrom TO nTo
      a := hb_ATokens( aData[ i ], Chr( 9 ) )
      SWITCH a[ 1 ]
      CASE "A"
         dbAppend()
         PutFields( a )
         EXIT
      CASE "U"
         dbGoto( Val( a[ 2 ] ) )
         Locked( {|| PutFields( a ) } )
         EXIT
      CASE "D"
         dbGoto( Val( a[ 2 ] ) )
         Locked( {|| dbDelete() } )
         EXIT
      CASE "R"
         dbGoto( Val( a[ 2 ] ) )
         Locked( {|| dbRecall() } )
         EXIT
      ENDSWITCH
   NEXT
   dbCommit()
   RETURN

/* Runs the change with the current record locked (a table opened
   exclusively needs no lock; RLock() then succeeds at once). */
STATIC PROCEDURE Locked( bChange )
   IF ! RLock()
      OutStd( "Error: record " + hb_ntos( RecNo() ) + " not locked" + hb_eol() )
      QUIT
   ENDIF
   Eval( bChange )
   dbUnlock()
   RETURN

STATIC PROCEDURE PutFields( a )
   FIELD->NAME := a[ 3 ]
   FIELD->CODE := a[ 4 ]
   FIELD->AGE := Val( a[ 5 ] )
   FIELD->SAL := Val( a[ 6 ] )
   FIELD->BIRTH := hb_SToD( a[ 7 ] )
   RETURN

STATIC PROCEDURE SeekLine( cKind, xValue, lSoft )
   LOCAL cValue, lFound
   SWITCH ValType( xValue )
   CASE "C" ; cValue := xValue ; EXIT
   CASE "N" ; cValue := hb_ntos( xValue ) ; EXIT
   CASE "D" ; cValue := DToS( xValue ) ; EXIT
   OTHERWISE ; cValue := "?"
   ENDSWITCH
   lFound := dbSeek( xValue, lSoft )
   IF lSoft
      lFound := ! Eof()
   ENDIF
   OutStd( cKind + " " + cValue + Chr( 9 ) + iif( lFound, "T", "F" ) + Chr( 9 ) + ;
           hb_ntos( iif( Eof(), 0, RecNo() ) ) + hb_eol() )
   RETURN

STATIC PROCEDURE Report( cPhase )
   LOCAL nOrder, xKey, xNear, nRec
   OutStd( "R " + cPhase + hb_eol() )
   FOR nOrder := 1 TO ordCount()
      ordSetFocus( nOrder )
      OutStd( "O " + ordName( nOrder ) + " " + hb_ntos( ordKeyCount() ) + hb_eol() )
      OutStd( "W" )
      dbGoTop()
      DO WHILE ! Eof()
         OutStd( " " + hb_ntos( RecNo() ) )
         dbSkip()
      ENDDO
      OutStd( hb_eol() )
      FOR nRec := 1 TO LastRec() STEP 97
         dbGoto( nRec )
         xKey := &( ordKey() )
         SWITCH ValType( xKey )
         CASE "C" ; xNear := Left( xKey, 3 ) + "~" ; EXIT
         CASE "N" ; xNear := xKey + 0.5 ; EXIT
         CASE "D" ; xNear := iif( Empty( xKey ), xKey, xKey + 1 ) ; EXIT
         OTHERWISE ; xNear := xKey
         ENDSWITCH
         SeekLine( "S", xKey, .F. )
         SeekLine( "F", xNear, .T. )
      NEXT
   NEXT
   RETURN
