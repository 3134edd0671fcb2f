
// A workbook without drawing gets its drawing group and the sheet's drawing
// with the first comment; the comment reads back after a save, and goes.
TEST(XLSFileDrawing, CommentsOnANewWorkbook) {
    TXLSFile file(nullptr, true);
    file.Connect();
    file.NewFile(1);
    file.SetActiveSheet(1);
    EXPECT_EQ(MessageOf([&] { file.SetCellComment(0, 1, u"x", {}); }),
              "The index \"-1\" of the property \"Row\" is not in the range 0-65535");
    file.SetCellComment(2, 3, u"Poznámka", {4, 0, 1, 0, 6, 0, 5, 0, {}});
    file.SetCellComment(2, 1, u"", {});  // no note there: nothing
    const auto reloaded = [&] {
        TKmrMemoryStream saved;
        file.Save(false, "", nullptr, nullptr, &saved);
        saved.Seek(0);
        file.LoadFromStream(saved);
    };
    reloaded();
    EXPECT_EQ(std::make_tuple(file.GetCommentsCount(2), file.GetCommentColumn(2, 0), file.GetCellComment(2, 3)),
              std::make_tuple(1, 3, std::u16string(u"Poznámka")));
    file.AssignComment(2, 0, u"");
    reloaded();
    EXPECT_EQ(file.GetCommentsCount(2), 0);
}
